// CabSTConsts: the message texts of the cabinet component.
#pragma once

#include <cstdint>

// The text of an FDI error code (FDIERROR, 0..11); "FDI error" for any other code.
const char* CabinetErrorText(int32_t code);

// The text of an FCI (compressor side) error code (0..8); "FCI error" for any other code.
const char* CompressorErrorText(int32_t code);
