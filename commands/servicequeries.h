// The three queries the add-in sends when it loads what it knows about the
// security service: its status (of which the add-in keeps the main path),
// the product's specification values (names, contact texts) and the mail
// settings. Plain commands without request parameters; keys missing from
// a reply take the defaults declared here. Texts arrive as UTF-8.
#pragma once

#include "commands/command.h"

namespace tarvixlib {
namespace commands {
namespace tarvixservice {

class CGetMAPISettingsCommand : public CTarvixPipeCommand {
public:
  CGetMAPISettingsCommand();
  ~CGetMAPISettingsCommand() override = default;

  CBoolParam saveToQu{"SAVETOQU", false};
  CBoolParam scanEmail{"SCANEMAIL", false};
  CBoolParam showWindow{"SHOWWINDOW", false};
  CULongParam buildNr{"BUILDNR", 0};
  CULongParam language{"LANGUAGE", 0};  // parsed, never used
  CULongParam vdbDate{"VDBDATE", 0};
  CULongParam disclR{"DISCLR", 0};
  CULongParam disclS{"DISCLS", 0};
  CBoolParam spamCheck{"SPAMCHECK", false};
  CULongParam spamAction{"SPAMACTION", 0};
  CBoolParam closeWin{"CLOSEWIN", false};
};

// The default of NAME: the vendor's company name.
constexpr const char* kVendorName = "Zelvok Software GmbH";

class CGetSpecificationValueCommand : public CTarvixPipeCommand {
public:
  CGetSpecificationValueCommand();
  ~CGetSpecificationValueCommand() override = default;

  CStringParam product{"PRODUCT", "druvel"};
  CStringParam productLong{"PRODUCT_LONG", "ZELVOK druvel"};
  CStringParam productType{"PRODUCTTYPE", "QX"};
  CStringParam productSubtype{"PRODUCTSUBTYPE", "QX"};
  CStringParam url{"URL", ""};
  CStringParam contactAdress{"ContactAdress", ""};
  CStringParam contactPhone{"ContactPhone", ""};
  CStringParam contactHomepage{"ContactHomepage", ""};
  CStringParam office{"OFFICE", ""};
  CStringParam contactCost{"ContactCost", ""};
  CStringParam mail{"MAIL", ""};
  CStringParam name{"NAME", kVendorName};
  CStringParam contactVirushotline{"ContactVirushotline", ""};
  CStringParam contactAnalysislab{"ContactAnalysislab", ""};
  CStringParam virusFoundPageUrl{"VirusFoundPageUrl", ""};
  CBoolParam rightToLeft{"RightToLeft", false};
};

}  // namespace tarvixservice

namespace tarvix {

// The service's status, one field per key of GET_TARVIXSTATUS.
struct StatusRecord {
  uint32_t VER_SERVICE = 0;
  uint32_t VER_UPDATE = 0;
  uint32_t VER_R5 = 0;
  uint32_t VER_VDB = 0;
  uint32_t VER_AS = 0;
  uint64_t VER_VDB_DATE = 0;
  uint32_t VER_SDB = 0;
  uint64_t VER_SDB_DATE = 0;
  uint64_t SYSSCAN_NEXT = 0;
  uint64_t SYSSCAN_LAST = 0;
  bool SCAN_RUNNING = false;
  uint64_t UPDATE_NEXT = 0;
  uint64_t UPDATE_LAST = 0;
  uint64_t UPDATE_LAST_TRY = 0;
  bool UPDATE_RUNNING = false;
  uint32_t BADLIST_EXIST = 0;
  uint32_t BADLIST_ALL = 0;
  uint32_t VDB_SIGNATURE_COUNT = 0;
  uint32_t SDB_SIGNATURE_COUNT = 0;
  bool LIVESCAN_STATUS = false;
  bool EMAILSCAN_STATUS = false;
  bool INTERNETDOWNLOADS_STATUS = false;
  bool SPYWARE_STATUS = false;
  bool DIALER_STATUS = false;
  bool AUTOUPDATE_STATUS = false;
  bool SPAMCHECK = false;
  bool SIGQA = false;
  bool LIVESCAN_STATUS_PUA = false;
  uint32_t MAXBADID = 0;
  bool WRITEALLOWED = false;
  CMyStringA HLVX_HOST;
  bool DISABLEKICKOFF = false;
  uint32_t CONFIGCRC = 0;
  uint32_t CRCCSID = 0;
  uint32_t STAT_SYSSCAN = 0;
  bool STAT_INFECTED = false;
  uint8_t STAT_WATCH = 0;
  bool STAT_UPDATE = false;
  uint32_t STAT_SCANOLD = 0;
  CMyStringA MAIN_PATH;
  CMyStringA MAIN_PATH_W;  // UTF-8
  bool PASSWD_PROTECTION = false;
};

// A status command: one response parameter per key, each reading straight
// into the record.
class CTarvixStatusBaseCommand : public CPipeHandleAwareCommandT<CTarvixPipeCommand> {
public:
  explicit CTarvixStatusBaseCommand(const char* name);
  ~CTarvixStatusBaseCommand() override;

  const StatusRecord& Record() const { return record_; }

private:
  struct Params;
  StatusRecord record_;
  Params* params_;  // owned; one parameter per key, in the reply's key order
};

class CGetTarvixStatusCommand : public CTarvixStatusBaseCommand {
public:
  CGetTarvixStatusCommand() : CTarvixStatusBaseCommand("GET_TARVIXSTATUS") {}
  ~CGetTarvixStatusCommand() override = default;
};

}  // namespace tarvix
}  // namespace commands
}  // namespace tarvixlib
