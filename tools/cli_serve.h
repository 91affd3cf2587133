/* kelvaron-regex serve: the pattern tester page (web/) on 127.0.0.1, with
 * cpp-httplib (cli_serve.cpp). */
#ifndef KRX_CLI_SERVE_H
#define KRX_CLI_SERVE_H

#include <vector>

namespace cli {

/* The help of the serve command, lines indented by six spaces. */
extern const char SERVE_HELP[];

/* serve [--port N] [--open]: every argument after the command word. Serves
 * until the process is stopped; returns an exit status only on a usage
 * error, when the page's folder is missing or the port cannot be had (2),
 * or for --help (0). */
int run_serve(const std::vector<const char *> &args);

} /* namespace cli */

#endif
