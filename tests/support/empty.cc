// SPDX-License-Identifier: BSD-2-Clause
// Keeps the support library non-empty before any helper exists.
