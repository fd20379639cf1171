// Names typed by the user, in Shift_JIS.
#include "edit/Edit.h"
#include "platform/Platform.h"

namespace edit {

Conversion ToShiftJis(const char* text, char* out, int outSize) {
  switch (platform::ToShiftJis(text, out, outSize)) {
    case platform::Converted::kDone:
      return Conversion::kDone;
    case platform::Converted::kNoForm:
      return Conversion::kNoForm;
    case platform::Converted::kNoConverter:
      break;
  }
  return Conversion::kNoConverter;
}

}  // namespace edit
