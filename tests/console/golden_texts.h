// Golden texts that more than one console test file expects: the option
// lines of the full usage, one threat history entry and one virus-found
// event, each with the scenario lines that produce it. The printed forms
// were built by hand from the console's output rules, not copied from a run.
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

// A threat history entry whose file exists, with a time of 0 (the FILETIME
// epoch): the scenario line, then the block it prints (dots, aligned).
inline const char kHistoryLineA[] =
    "GetThreatHistoryEntry 0 \"0\" 0 \"Sig A\" \"C:\\\\a.exe\" \"ID-A\" \"proc-a\" 11\n";
inline const char kPrintedEntryA[] =
    "Virus (ID 11):\n"
    "  File . . . . : C:\\a.exe\n"
    "  Sig-ID . . . : ID-A\n"
    "  Sig-Name . . : Sig A\n"
    "  Process. . . : proc-a\n"
    "  Time found . : Mon, 1 Jan 1601 00:00:00 GMT\n"
    "  Status . . . : File exists.\n"
    "\n";

// A virus-found event with every value read successfully (a null process,
// a format string as a signature name that must print as it is), then the
// lines the sink prints for it.
inline const char kEventLines[] =
    "Callback\n"
    "CallbackValue 7 0 \"19\"\n"
    "CallbackValue 0 0 \"C:\\\\x.exe\"\n"
    "CallbackValue 1 0 \"S-1\"\n"
    "CallbackValue 2 0 \"Sig %s %d\"\n"
    "CallbackValue 3 0 null\n"
    "CallbackValue 4 0 \"116444736000000000\"\n"
    "CallbackValue 5 0 \"3\"\n"
    "CallbackValue 6 0 \"Deleted.\"\n";
inline const char kPrintedEvent[] =
    "\n******************* Found virus *******************\n"
    "\t(HR: 0) InfectionID: 19\n"
    "\t(HR: 0) Filename   : C:\\x.exe\n"
    "\t(HR: 0) Sig-ID     : S-1\n"
    "\t(HR: 0) Sig-Name   : Sig %s %d\n"
    "\t(HR: 0) Process    : (null)\n"
    "\t(HR: 0) Time       : Thu, 1 Jan 1970 00:00:00 GMT\n"
    "\t(HR: 0) StatusCode : 3\n"
    "\t(HR: 0) StatusText : Deleted.\n";

}  // namespace consoletest
