// SPDX-License-Identifier: BSD-2-Clause
// Anchor of the player library; the player logic lives in the files beside it.
