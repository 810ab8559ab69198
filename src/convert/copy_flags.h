// SPDX-License-Identifier: BSD-2-Clause
// Destination format codes and copy flags: the words a caller hands to
// CopyToBuffer to say what the destination holds and how to fill it. They
// are public, with CopyToBuffer itself.
#pragma once

#include "kivo/convert.h"
