#pragma once

// The host's texts, all in one place: what it prints for a person at a terminal (ASCII), its
// window's menu and boxes, the certificate import's boxes (Windows-1251 bytes), and what the
// registration and the service write. All are NUL-terminated and reproduced byte for byte; a
// "Format" text is a printf format whose arguments its comment names.

namespace host::texts {

// kUsage is what --help prints first: the switches and how settings are given; the settings'
// lines follow, then kUsageEnd, where to read more.
extern const char* const kUsage;
extern const char* const kUsageEnd;
// kVersionLineFormat is what --version prints: the program's file name, dotted version, name and
// version.
extern const char* const kVersionLineFormat;
// kSettingsErrorFormat prints a refused setting (its reason) on standard error.
extern const char* const kSettingsErrorFormat;
// kLogFileRefusedFormat says why the log file (the reason, then its path) cannot be the log.
extern const char* const kLogFileRefusedFormat;

// The main window's context menu.
extern const char* const kMenuAbout;
extern const char* const kMenuInstallCertificate;
extern const char* const kMenuExit;
// The question before the window closes, and the title of the about box.
extern const char* const kExitQuestion;
extern const char* const kAboutTitle;

// The certificate import's boxes: the title and text (the subject) of a certificate added to each
// store, the dialog's filter names, a file that does not open (the system's text) and a
// certificate not added.
extern const char* const kRootAddedTitle;
extern const char* const kRootAddedFormat;
extern const char* const kAddressBookAddedTitle;
extern const char* const kAddressBookAddedFormat;
extern const char* const kCertificateFilter;
extern const char* const kPersonalExchangeFilter;
extern const char* const kOpenFailedTitle;
extern const char* const kOpenFailedFormat;
extern const char* const kNotAddedTitle;

// The registration's result boxes (-i and -u) under kRegistrationTitle: success, or failure with
// the HRESULT and its system text.
extern const char* const kRegistrationTitle;
extern const char* const kRegistered;
extern const char* const kRegisterFailedFormat;
extern const char* const kUnregistered;
extern const char* const kUnregisterFailedFormat;
// The service manager's failure boxes.
extern const char* const kCouldNotStartService;
extern const char* const kCouldNotOpenServiceManager;
extern const char* const kCouldNotStopService;
extern const char* const kCouldNotDeleteService;
// Why a program may not run as the service: its path unknown, or a part of its path (and the
// program) that a user other than root may change.
extern const char* const kProgramPathUnknown;
extern const char* const kOthersCanReplaceFormat;
// A program path that a unit's command line cannot name: the path.
extern const char* const kPathUnitCannotNameFormat;
// The notes after a registration's box: the service's account made for each run, and a unit file
// written or removed (the folder, the unit, kUnitWritten or kUnitRemoved) without systemd.
extern const char* const kDynamicUserNote;
extern const char* const kUnitChangedFormat;
extern const char* const kUnitWritten;
extern const char* const kUnitRemoved;
// The status the service manager shows once the server serves: the address and the port.
extern const char* const kServingFormat;
// The service's events.
extern const char* const kEventServiceStarted;
extern const char* const kEventServiceStopped;
extern const char* const kEventBadServiceRequest;
// The error line of a window thread that did not end in time: the allowance in milliseconds.
extern const char* const kLogWindowThreadLeftFormat;
// The notices of a start: a server listening on every address (the address); the trust anchors
// (their number and the state root), none of them, or no state root at all (the state root).
extern const char* const kLogEveryAddressFormat;
extern const char* const kLogTrustAnchorsFormat;
extern const char* const kLogNoTrustAnchorsFormat;
extern const char* const kLogNoStateRootFormat;
// The error line of a log file that could not be opened again after SIGHUP: why.
extern const char* const kLogReopenFailedFormat;

}  // namespace host::texts
