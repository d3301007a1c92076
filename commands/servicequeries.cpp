#include "commands/servicequeries.h"

namespace tarvixlib {
namespace commands {
namespace tarvixservice {

CGetMAPISettingsCommand::CGetMAPISettingsCommand() : CTarvixPipeCommand("GET_MAPISETTINGS", 0) {
  AddResponseParam(saveToQu);
  AddResponseParam(scanEmail);
  AddResponseParam(showWindow);
  AddResponseParam(buildNr);
  AddResponseParam(language);
  AddResponseParam(vdbDate);
  AddResponseParam(disclR);
  AddResponseParam(disclS);
  AddResponseParam(spamCheck);
  AddResponseParam(spamAction);
  AddResponseParam(closeWin);
}

CGetSpecificationValueCommand::CGetSpecificationValueCommand()
    : CTarvixPipeCommand("GET_SPECIFICATION_VALUE", 0) {
  CNamedParam* params[] = {&product, &productLong, &productType, &productSubtype, &url,
                           &contactAdress, &contactPhone, &contactHomepage, &office,
                           &contactCost, &mail, &name, &contactVirushotline,
                           &contactAnalysislab, &virusFoundPageUrl, &rightToLeft};
  for (CNamedParam* param : params) AddResponseParam(*param);
}

}  // namespace tarvixservice

namespace tarvix {

struct CTarvixStatusBaseCommand::Params {
  CULongParam VER_SERVICE{"VER_SERVICE"};
  CULongParam VER_UPDATE{"VER_UPDATE"};
  CULongParam VER_R5{"VER_R5"};
  CULongParam VER_VDB{"VER_VDB"};
  CULongParam VER_AS{"VER_AS"};
  CULongLongParam VER_VDB_DATE{"VER_VDB_DATE"};
  CULongParam VER_SDB{"VER_SDB"};
  CULongLongParam VER_SDB_DATE{"VER_SDB_DATE"};
  CULongLongParam SYSSCAN_NEXT{"SYSSCAN_NEXT"};
  CULongLongParam SYSSCAN_LAST{"SYSSCAN_LAST"};
  CBoolParam SCAN_RUNNING{"SCAN_RUNNING"};
  CULongLongParam UPDATE_NEXT{"UPDATE_NEXT"};
  CULongLongParam UPDATE_LAST{"UPDATE_LAST"};
  CULongLongParam UPDATE_LAST_TRY{"UPDATE_LAST_TRY"};
  CBoolParam UPDATE_RUNNING{"UPDATE_RUNNING"};
  CULongParam BADLIST_EXIST{"BADLIST_EXIST"};
  CULongParam BADLIST_ALL{"BADLIST_ALL"};
  CULongParam VDB_SIGNATURE_COUNT{"VDB_SIGNATURE_COUNT"};
  CULongParam SDB_SIGNATURE_COUNT{"SDB_SIGNATURE_COUNT"};
  CBoolParam LIVESCAN_STATUS{"LIVESCAN_STATUS"};
  CBoolParam LIVESCAN_STATUS_PUA{"LIVESCAN_STATUS_PUA"};
  CBoolParam EMAILSCAN_STATUS{"EMAILSCAN_STATUS"};
  CBoolParam INTERNETDOWNLOADS_STATUS{"INTERNETDOWNLOADS_STATUS"};
  CBoolParam SPYWARE_STATUS{"SPYWARE_STATUS"};
  CBoolParam DIALER_STATUS{"DIALER_STATUS"};
  CBoolParam AUTOUPDATE_STATUS{"AUTOUPDATE_STATUS"};
  CBoolParam SPAMCHECK{"SPAMCHECK"};
  CBoolParam SIGQA{"SIGQA"};
  CULongParam MAXBADID{"MAXBADID"};
  CBoolParam WRITEALLOWED{"WRITEALLOWED"};
  CStringParam HLVX_HOST{"HLVX_HOST"};
  CBoolParam DISABLEKICKOFF{"DISABLEKICKOFF"};
  CULongParam CONFIGCRC{"CONFIGCRC"};
  CULongParam CRCCSID{"CRCCSID"};
  CBoolParam STAT_INFECTED{"STAT_INFECTED"};
  CByteParam STAT_WATCH{"STAT_WATCH"};
  CBoolParam STAT_UPDATE{"STAT_UPDATE"};
  CULongParam STAT_SCANOLD{"STAT_SCANOLD"};
  CULongParam STAT_SYSSCAN{"STAT_SYSSCAN"};
  CStringParam MAIN_PATH{"MAIN_PATH"};
  CStringParam MAIN_PATH_W{"MAIN_PATH_W"};
  CBoolParam PASSWD_PROTECTION{"PASSWD_PROTECTION"};
};

CTarvixStatusBaseCommand::CTarvixStatusBaseCommand(const char* name)
    : CPipeHandleAwareCommandT<CTarvixPipeCommand>(name, 0), params_(new Params) {
  params_->VER_SERVICE.Bind(&record_.VER_SERVICE);
  AddResponseParam(params_->VER_SERVICE);
  params_->VER_UPDATE.Bind(&record_.VER_UPDATE);
  AddResponseParam(params_->VER_UPDATE);
  params_->VER_R5.Bind(&record_.VER_R5);
  AddResponseParam(params_->VER_R5);
  params_->VER_VDB.Bind(&record_.VER_VDB);
  AddResponseParam(params_->VER_VDB);
  params_->VER_AS.Bind(&record_.VER_AS);
  AddResponseParam(params_->VER_AS);
  params_->VER_VDB_DATE.Bind(&record_.VER_VDB_DATE);
  AddResponseParam(params_->VER_VDB_DATE);
  params_->VER_SDB.Bind(&record_.VER_SDB);
  AddResponseParam(params_->VER_SDB);
  params_->VER_SDB_DATE.Bind(&record_.VER_SDB_DATE);
  AddResponseParam(params_->VER_SDB_DATE);
  params_->SYSSCAN_NEXT.Bind(&record_.SYSSCAN_NEXT);
  AddResponseParam(params_->SYSSCAN_NEXT);
  params_->SYSSCAN_LAST.Bind(&record_.SYSSCAN_LAST);
  AddResponseParam(params_->SYSSCAN_LAST);
  params_->SCAN_RUNNING.Bind(&record_.SCAN_RUNNING);
  AddResponseParam(params_->SCAN_RUNNING);
  params_->UPDATE_NEXT.Bind(&record_.UPDATE_NEXT);
  AddResponseParam(params_->UPDATE_NEXT);
  params_->UPDATE_LAST.Bind(&record_.UPDATE_LAST);
  AddResponseParam(params_->UPDATE_LAST);
  params_->UPDATE_LAST_TRY.Bind(&record_.UPDATE_LAST_TRY);
  AddResponseParam(params_->UPDATE_LAST_TRY);
  params_->UPDATE_RUNNING.Bind(&record_.UPDATE_RUNNING);
  AddResponseParam(params_->UPDATE_RUNNING);
  params_->BADLIST_EXIST.Bind(&record_.BADLIST_EXIST);
  AddResponseParam(params_->BADLIST_EXIST);
  params_->BADLIST_ALL.Bind(&record_.BADLIST_ALL);
  AddResponseParam(params_->BADLIST_ALL);
  params_->VDB_SIGNATURE_COUNT.Bind(&record_.VDB_SIGNATURE_COUNT);
  AddResponseParam(params_->VDB_SIGNATURE_COUNT);
  params_->SDB_SIGNATURE_COUNT.Bind(&record_.SDB_SIGNATURE_COUNT);
  AddResponseParam(params_->SDB_SIGNATURE_COUNT);
  params_->LIVESCAN_STATUS.Bind(&record_.LIVESCAN_STATUS);
  AddResponseParam(params_->LIVESCAN_STATUS);
  params_->LIVESCAN_STATUS_PUA.Bind(&record_.LIVESCAN_STATUS_PUA);
  AddResponseParam(params_->LIVESCAN_STATUS_PUA);
  params_->EMAILSCAN_STATUS.Bind(&record_.EMAILSCAN_STATUS);
  AddResponseParam(params_->EMAILSCAN_STATUS);
  params_->INTERNETDOWNLOADS_STATUS.Bind(&record_.INTERNETDOWNLOADS_STATUS);
  AddResponseParam(params_->INTERNETDOWNLOADS_STATUS);
  params_->SPYWARE_STATUS.Bind(&record_.SPYWARE_STATUS);
  AddResponseParam(params_->SPYWARE_STATUS);
  params_->DIALER_STATUS.Bind(&record_.DIALER_STATUS);
  AddResponseParam(params_->DIALER_STATUS);
  params_->AUTOUPDATE_STATUS.Bind(&record_.AUTOUPDATE_STATUS);
  AddResponseParam(params_->AUTOUPDATE_STATUS);
  params_->SPAMCHECK.Bind(&record_.SPAMCHECK);
  AddResponseParam(params_->SPAMCHECK);
  params_->SIGQA.Bind(&record_.SIGQA);
  AddResponseParam(params_->SIGQA);
  params_->MAXBADID.Bind(&record_.MAXBADID);
  AddResponseParam(params_->MAXBADID);
  params_->WRITEALLOWED.Bind(&record_.WRITEALLOWED);
  AddResponseParam(params_->WRITEALLOWED);
  params_->HLVX_HOST.Bind(&record_.HLVX_HOST);
  AddResponseParam(params_->HLVX_HOST);
  params_->DISABLEKICKOFF.Bind(&record_.DISABLEKICKOFF);
  AddResponseParam(params_->DISABLEKICKOFF);
  params_->CONFIGCRC.Bind(&record_.CONFIGCRC);
  AddResponseParam(params_->CONFIGCRC);
  params_->CRCCSID.Bind(&record_.CRCCSID);
  AddResponseParam(params_->CRCCSID);
  params_->STAT_INFECTED.Bind(&record_.STAT_INFECTED);
  AddResponseParam(params_->STAT_INFECTED);
  params_->STAT_WATCH.Bind(&record_.STAT_WATCH);
  AddResponseParam(params_->STAT_WATCH);
  params_->STAT_UPDATE.Bind(&record_.STAT_UPDATE);
  AddResponseParam(params_->STAT_UPDATE);
  params_->STAT_SCANOLD.Bind(&record_.STAT_SCANOLD);
  AddResponseParam(params_->STAT_SCANOLD);
  params_->STAT_SYSSCAN.Bind(&record_.STAT_SYSSCAN);
  AddResponseParam(params_->STAT_SYSSCAN);
  params_->MAIN_PATH.Bind(&record_.MAIN_PATH);
  AddResponseParam(params_->MAIN_PATH);
  params_->MAIN_PATH_W.Bind(&record_.MAIN_PATH_W);
  AddResponseParam(params_->MAIN_PATH_W);
  params_->PASSWD_PROTECTION.Bind(&record_.PASSWD_PROTECTION);
  AddResponseParam(params_->PASSWD_PROTECTION);
}

CTarvixStatusBaseCommand::~CTarvixStatusBaseCommand() { delete params_; }

}  // namespace tarvix
}  // namespace commands
}  // namespace tarvixlib
