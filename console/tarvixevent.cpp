#include "console/tarvixevent.h"

#include "console/bstr.h"
#include "console/consoleline.h"
#include "console/operations.h"

namespace tarvixconsole {

namespace {

struct SEventValue {
  LONG index;
  const char* format;
};

// In the order they are printed.
const SEventValue kEventValues[] = {
    {7, "\t(HR: %d) InfectionID: %S"}, {0, "\t(HR: %d) Filename   : %S"},
    {1, "\t(HR: %d) Sig-ID     : %S"}, {2, "\t(HR: %d) Sig-Name   : %S"},
    {3, "\t(HR: %d) Process    : %S"}, {4, "\t(HR: %d) Time       : %s"},
    {5, "\t(HR: %d) StatusCode : %S"}, {6, "\t(HR: %d) StatusText : %S"},
};

constexpr LONG kTimeIndex = 4;
constexpr LONG kStatusTextIndex = 6;

}  // namespace

HRESULT STDMETHODCALLTYPE CTarvixEvent::OnVirusFound(ITarvixEventInfo* info) noexcept {
  CMyConsoleLog& log = CMyConsoleLog::Instance();
  log.Message("\n******************* Found virus *******************");
  if (!info) {
    log.Message("\tERRORS!");
    return E_POINTER;
  }
  HRESULT statusText = S_OK;
  for (const SEventValue& value : kEventValues) {
    tarvixlib::CUniqueBstr text;
    HRESULT hr = info->GetValue(value.index, text.Out());
    if (value.index == kTimeIndex) {
      char time[kThreatTimeChars];
      FormatThreatTime(AnsiFromBstr(text.Get()).GetString(), time);
      log.Message(value.format, static_cast<int>(hr), time);
    } else {
      log.Message(value.format, static_cast<int>(hr), text.Get());
    }
    if (value.index == kStatusTextIndex) statusText = hr;
  }
  if (statusText != S_OK) {
    log.Message("\tERRORS!");
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace tarvixconsole
