#include "host/host_texts.h"

#include "platform/base/cp1251.h"

namespace host::texts {

using namespace platform::literals;

const char* const kUsage =
    "Usage: quilmarend [SWITCH]...\n"
    "       quilmarend -import FILE...\n"
    "       quilmarend --help | --version\n"
    "\n"
    "Quilmarend answers clients on TCP port 3847 whether a CMS or XML signature is valid.\n"
    "\n"
    "Switches start with - or /, in any case; unknown ones are ignored.\n"
    "  (none), -test    serve here until SIGINT or SIGTERM, then go on to the mode decision\n"
    "  -service         the mode decision only (the service's command line)\n"
    "  -gui             the mode decision only; -i and -u are ignored\n"
    "  -i               register the service: the systemd unit and the AppID keys\n"
    "  -u               stop the service and remove its registration\n"
    "  -s               with -i or -u: no result boxes\n"
    "  -start           run 'systemctl start quilmarend' in place of this process\n"
    "  -import FILE...  import the certificates of each file into the machine's stores\n"
    "  --help           print this text and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Settings come from the environment; the service reads them from /etc/default/quilmarend.\n"
    "A value that is not valid stops the start with exit code 2. NAME=value shows the default.\n";
const char* const kUsageEnd = "\nSee quilmarend(8).\n";

const char* const kVersionLineFormat = "%s %s (%s %s)\n";
const char* const kSettingsErrorFormat = "quilmarend: %s\n";
const char* const kLogFileRefusedFormat = "quilmarend: QUILMAREND_LOG: %s: %s\n";

const char* const kMenuAbout = "О программе"_cp1251;
const char* const kMenuInstallCertificate = "Установить сертификат"_cp1251;
const char* const kMenuExit = "Выход"_cp1251;
const char* const kExitQuestion =
    "Вы уверены, что хотите закрыть Quilmarend?\n\n"
    "При закрытии программы проверка подписи будет не доступна!"_cp1251;
const char* const kAboutTitle = "О программе"_cp1251;

const char* const kRootAddedTitle = "Сертификат добавлен в ROOT"_cp1251;
const char* const kRootAddedFormat =
    "Сертификат на %s\nдобавлен в \"Доверенные корневые центры сертификации\" на локальный "
    "компьютер"_cp1251;
const char* const kAddressBookAddedTitle = "Сертификат добавлен в ADDRESSBOOK"_cp1251;
const char* const kAddressBookAddedFormat =
    "Сертификат на %s\nдобавлен в \"Другие пользователи\" на локальный компьютер"_cp1251;
const char* const kCertificateFilter = "Сертификат X.509 (*.cer;*.crt;*.pem;*.p7b;*.p7c)"_cp1251;
const char* const kPersonalExchangeFilter = "Personal Information Exchange (*.pfx;*.p12)";
const char* const kOpenFailedTitle = "Ошибка"_cp1251;
const char* const kOpenFailedFormat = "Неудалось открыть контейнер с сертификатом\n\n%s"_cp1251;
const char* const kNotAddedTitle = "Сертификат не добавлен"_cp1251;

const char* const kRegistrationTitle = "service manager";
const char* const kRegistered = "Сервис успешно зарегистрирован"_cp1251;
const char* const kRegisterFailedFormat = "Ошибка регистрации сервиса\n(0x%08x)\n%s"_cp1251;
const char* const kUnregistered = "Сервис успешно разрегистрирован"_cp1251;
const char* const kUnregisterFailedFormat = "Ошибка разрегистрации сервиса\n(0x%08x)\n%s"_cp1251;
const char* const kCouldNotStartService = "Could not start service";
const char* const kCouldNotOpenServiceManager = "Could not open Service Manager";
const char* const kCouldNotStopService = "Could not stop service";
const char* const kCouldNotDeleteService = "Could not delete service";
const char* const kProgramPathUnknown = "The program's own path is unknown.";
const char* const kOthersCanReplaceFormat =
    "%s may be changed by a user other than root, who could then replace %s; a service runs only "
    "a program that root alone can replace.";
const char* const kPathUnitCannotNameFormat =
    "%s holds a double quote, a backslash or a control character, which a unit's command line "
    "cannot carry; a service runs only a program whose path it can name as it is.";
const char* const kDynamicUserNote =
    "The system user quilmarend could not be created (systemd-sysusers): the service runs as a "
    "user systemd makes for each run (DynamicUser=yes), and only root can put documents into "
    "its temporary folder.";
const char* const kUnitChangedFormat =
    "systemd is not running: the unit file %s/%s was %s; no systemctl command was run.";
const char* const kUnitWritten = "written";
const char* const kUnitRemoved = "removed";
const char* const kServingFormat = "Serving on %s port %d";
const char* const kEventServiceStarted = "Service started";
const char* const kEventServiceStopped = "Service stopped";
const char* const kEventBadServiceRequest = "Bad service request";
const char* const kLogWindowThreadLeftFormat =
    "The window thread did not end within %d ms of the stop; the process ends without it";
const char* const kLogEveryAddressFormat =
    "Listening on every address (%s): any client that reaches this machine may ask for checks, "
    "have URLs fetched and files of this machine hashed, without authentication; "
    "QUILMAREND_LISTEN=127.0.0.1 serves this machine only";
const char* const kLogTrustAnchorsFormat = "%d trust anchors in the ROOT stores of %s";
const char* const kLogNoTrustAnchorsFormat =
    "%d trust anchors in the ROOT stores of %s: no chain can be trusted until a root certificate "
    "is imported (quilmarend -import FILE)";
const char* const kLogNoStateRootFormat =
    "The state root %s does not exist: no certificate stores and 0 trust anchors; "
    "quilmarend -import FILE creates it";
const char* const kLogReopenFailedFormat =
    "The log file could not be opened again (%s); the log goes on in the old one";

}  // namespace host::texts
