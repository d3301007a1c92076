// The language choice in the registry: the product key under both roots.
#include <windows.h>

#include "mapilib/languagemanager.h"
#include "registry/registry.h"

namespace mapilib {
namespace {

namespace registry = tarvixlib::registry;

class CRegistryLanguageSettings : public CLanguageSettings {
public:
  bool ReadLanguage(bool machineWide, CMyStringA& code) override {
    char buffer[LanguageManager::kLanguageValueSize];
    if (!registry::ReadString(Root(machineWide), registry::kProductKey, kLanguage, buffer,
                              sizeof buffer))
      return false;
    code.Assign(buffer);
    return true;
  }
  uint32_t ReadForceMachineLanguage() override {
    return registry::ReadDwordDefault(HKEY_LOCAL_MACHINE, registry::kProductKey, kForce, 0);
  }
  bool WriteLanguage(bool machineWide, const char* code) override {
    return registry::WriteString(Root(machineWide), registry::kProductKey, kLanguage, code);
  }
  bool WriteForceMachineLanguage(uint32_t force) override {
    return registry::WriteDword(HKEY_LOCAL_MACHINE, registry::kProductKey, kForce, force);
  }
  uint16_t SystemUiLanguage() override { return GetSystemDefaultUILanguage(); }

private:
  static constexpr const char* kLanguage = "Language";
  static constexpr const char* kForce = "ForceHKLMLanguage";
  static HKEY Root(bool machineWide) { return machineWide ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
};

}  // namespace

CLanguageSettings& SystemLanguageSettings() {
  static CRegistryLanguageSettings settings;
  return settings;
}

}  // namespace mapilib
