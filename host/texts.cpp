#include "host/texts.h"

namespace host::texts {

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
    "  QUILMAREND_PORT               the port to listen on (3847)\n"
    "  QUILMAREND_LISTEN             the address to bind (0.0.0.0; 127.0.0.1 for this machine\n"
    "                                only; an IPv6 address such as :: or ::1)\n"
    "  QUILMAREND_LOG_LEVEL          debug (every line, the default), info (errors, notices\n"
    "                                and one line per request), notice or error\n"
    "  QUILMAREND_LOG                append the log to this file instead of standard error\n"
    "  QUILMAREND_MAX_HELD_MIB       block data all connections may hold together (2048)\n"
    "  QUILMAREND_MAX_CONN_PER_ADDR  connections at once from one client address (0: no cap;\n"
    "                                keep it off behind a balancer)\n"
    "  QUILMAREND_HOME               the state root (/var/lib/quilmarend for root, else\n"
    "                                $XDG_STATE_HOME/quilmarend)\n"
    "  QUILMAREND_UNC_ROOT           where file://host/share/... shares are mounted (/net)\n"
    "\n"
    "See quilmarend(8).\n";

const char* const kVersionLineFormat = "%s %s (%s %s)\n";

}  // namespace host::texts
