// The movie core's last-error text: one process-wide buffer of 256 characters.
#pragma once

namespace kivo {

void SetErrorText(const char* text);
const char* GetErrorText();

}  // namespace kivo
