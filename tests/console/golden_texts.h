// The expected option lines of the full usage text (tests only).
#pragma once

namespace consoletest {

// Every option line of the full usage, built by hand from the option
// table's texts: label padded to 51 + 3 characters, so ": " stands in
// column 57; help texts ending in a line feed leave an empty line.
inline const char kAllOptionLines[] =
    "  -?                                                    : Displays this help text.\n"
    "  -h                                                    : Displays this help text.\n"
    "  -help                                                 : Displays this help text.\n\n"
    "  -Detect                                               : Test if ZELVOK ombrix is running.\n"
    "  -Verify                                               : Verify the authenticity of the installed executables by checking their digital signatures.\n\n"
    "  -Viruslist [ALL|EX|NE]                                : Show [All] all found viruses. Optionally only [Ex]isting or [N]ot[E]xisting infections.\n"
    "  -Delete <ID>                                          : Delete infections\n"
    "  -DeleteAndSave <ID>                                   : Delete infections but keep backup\n"
    "  -Restore <ID>                                         : Restore infected files\n"
    "  -Ignore <ID>                                          : Temporarily ignore infections\n"
    "  -ClearViruslist                                       : Clear deleted entries and delete all backups\n\n"
    "  -IsProtectionEnabled                                  : Test if the system protection is enabled.\n"
    "  -EnableProtection                                     : Enable the system protection.\n"
    "  -DisableProtection                                    : Disable the system protection.\n\n"
    "  -StartScan [FULL|STANDARD|QUICK|REMOVABLE|(Name)]     : Launch a scan.\n"
    "  -StopScan [FULL|STANDARD|QUICK|REMOVABLE|(Name)]      : Stop a scan.\n"
    "  -GetLastScan [FULL|STANDARD|QUICK|REMOVABLE|(Name)]   : Display the date of the last scan.\n"
    "  -ScanFile <Filename>                                  : Launch a single file scan.\n"
    "  -IsScanning                                           : Test if a system scan is running.\n\n"
    "  -ShowUpdateServers                                    : Display the URLs for the update servers.\n"
    "  -GUILanguage                                          : Display the current language of the GUI.\n"
    "  -ActivateGUI                                          : Start the ombrix main window.\n"
    "  -StartUpdate                                          : Start an update.\n"
    "  -IsUpdateInProgress                                   : Test if an update is running.\n"
    "  -EngineVersion                                        : Display the scan engine version.\n"
    "  -VDBTime                                              : Display the creation time of the signature database.\n"
    "  -VDBVersion                                           : Display the file version of the signature database.\n"
    "  -VDBSignatureCount                                    : Display the number of signatures in the database.\n"
    "  -SwapVDB <NewSigs.vdb>                                : Swap the virus database file with the given one.\n\n"
    "  -ASInfo                                               : Display all AntiSPAM information\n"
    "  -ASVersion                                            : Display the AntiSPAM engine version.\n"
    "  -SDBTime                                              : Display the creation time of the AntiSPAM database.\n"
    "  -SDBVersion                                           : Display the file version of the AntiSPAM database.\n"
    "  -SDBSignatureCount                                    : Display the number of entries in the AntiSPAM database.\n"
    "  -SwapSDB <AntiSPAM.sdb>                               : Swap the AntiSPAM database file with the given one.\n\n"
    "  -Callback                                             : Enable the callback functionality.\n"
    "  -ShutdownIfIdle                                       : Shuts the computer down when no scan is running.\n"
    ;

}  // namespace consoletest
