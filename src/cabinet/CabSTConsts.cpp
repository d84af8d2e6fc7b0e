// CabSTConsts: the message texts of the cabinet component.
#include "cabinet/CabSTConsts.h"

#include "cabinet/CabIntf.h"

namespace {

const char* const kCabinetErrorTexts[] = {
    "No error",
    "Cabinet not found",
    "Cabinet file does not have the correct format",
    "Cabinet file has an unknown version number",
    "Cabinet file is corrupt",
    "Could not allocate enough memory",
    "Unknown compression type in a cabinet folder",
    "Failure decompressing data from a cabinet file",
    "Failure writing to target file",
    "Cabinets in a set do not have the same RESERVE sizes",
    "Cabinet returned on fdintNEXT_CABINET is incorrect",
    "FDI aborted",
};

const char* const kCompressorErrorTexts[] = {
    "No error",
    "Failure opening file to be stored in cabinet",
    "Failure reading file to be stored in cabinet",
    "Out of memory in FCI",
    "Could not create a temporary file",
    "Unknown compression type",
    "Could not create cabinet file",
    "Client requested abort",
    "Failure compressing data",
};

template <int N>
const char* Lookup(const char* const (&texts)[N], int32_t code, const char* other) {
  return code >= 0 && code < N ? texts[code] : other;
}

}  // namespace

const char* CabinetErrorText(int32_t code) { return Lookup(kCabinetErrorTexts, code, "FDI error"); }

const char* CompressorErrorText(int32_t code) {
  return Lookup(kCompressorErrorTexts, code, "FCI error");
}

const std::error_category& CabinetCategory() {
  class TCabinetCategory : public std::error_category {
   public:
    const char* name() const noexcept override { return "cabinet"; }
    std::string message(int code) const override { return CabinetErrorText(code); }
  };
  static const TCabinetCategory category;
  return category;
}
