// The display buffer: the surface a decoded picture is copied into and shown
// from in the player's window. The record and its operations are public;
// the styles' tables behind it are in blit_style.h.
#pragma once

#include "kivo/display.h"
