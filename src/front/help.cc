#include "front/help.h"

#include "platform/console.h"

namespace {

constexpr char kHelpText[] =
    "\nRyMail Help  - Version 1.0\n\n"
    "useage - RyMail [-H] -s SUBJECT -f MAILFROM [-t MAILTO] [-l MAILTOINPUTFILE]\n"
    "                [-F FROM] [-T TO] -g GATEWAY [-r REPLYTO] [-d DEBUGFILE]\n"
    "                -h HELO -i INPUTFILE\n\n"
    "    -H Print this help screen\n"
    "    -s \"SUBJECT\"\n"
    "       The subject of your email message\n"
    "    -f MAILFROM\n"
    "       sender@example.com.  This only get's displayed to the\n"
    "       recipient if you don't supply the -F FROM parameter.\n"
    "    -t MAILTO\n"
    "       recipient@example.com.  This only get's displayed\n"
    "       to the recipient if you don't supply the -T TO parameter.\n"
    "       You should use either -t OR -l, but NOT both.\n"
    "    -l MAILTOINPUTFILE\n"
    "       An input file with lines in the form of\n"
    "       recipient@example.com.  To send to multiple recipients.\n"
    "       You should use either -t OR -l, but NOT both.\n"
    "    -F FROM\n"
    "       \"Pat Sender <sender@example.com>\".  This is useful\n"
    "       so that you can make your email appear to be coming from someone\n"
    "       that it's actually not coming from.  ie... santa@northpole.example.org\n"
    "    -T TO\n"
    "       \"Sam Recipient <recipient@example.com>\".  This is\n"
    "       so that you can give any appearance you want to the recipient.\n"
    "       ie... \"Lucky Winner <winner@example.org>\".\n"
    "    -g GATEWAY\n"
    "       You MUST have a gateway SMTP server that will allow you to transmit\n"
    "       email over your network or the Internet.  Many gateway servers\n"
    "       won't forward email for you because of all the SPAM email out there.\n"
    "    -r REPLYTO\n"
    "       replies@example.com.  Use this if you want the\n"
    "       recipient to reply to a different address than that which is in\n"
    "       the -f MAILFROM field.\n"
    "    -d DEBUGFILE\n"
    "       Debug output will be placed in the DEBUGFILE, use -d S to print the\n"
    "       debug output to the screen.\n"
    "    -h HELO\n"
    "       ie... myhost.example.com.  This is required by most SMTP gateways.\n"
    "    -i INPUTFILE\n"
    "       The file to email.\n\n"
    "Environment Variables - ryMailFrom, ryFrom, ryMailTo, ryTo, ryGateway,\n"
    "                        ryReplyTo, rySubject, ryHelo, ryDebugFile\n\n"
    "This Freeware Utility provided by https://rymail.example.org/\n\n"
    "PLEASE PLEASE, DO NOT use it to send SPAM mail.  I just HATE that!  If you\n"
    "DO use this to send SPAM mail, may the Karma Gods frown upon your EVIL SOUL!\n"
    "For help, Use (RyMail -H | more)\n\n";

// What --help adds after the help screen: the settings that came after it.
constexpr char kMoreHelp[] =
    "More settings, each an option with one value or the variable in brackets:\n\n"
    "    --port PORT [ryPort]\n"
    "       The relay's port, a number or a service name.  Default: smtp (25).\n"
    "    --tls none|starttls|implicit [ryTls]\n"
    "       STARTTLS after EHLO, or TLS from the first byte (port 465).\n"
    "    --ca-file FILE [ryCaFile]   --tls-verify on|off [ryTlsVerify]\n"
    "       Trust anchors instead of the system's; skip the certificate checks.\n"
    "    --user USER [ryUser]   --auth plain|login|xoauth2|oauthbearer [ryAuth]\n"
    "       Log in with AUTH (needs TLS).  The password or token comes from\n"
    "       --password-file FILE [ryPasswordFile], --password-command COMMAND\n"
    "       [ryPasswordCommand], or the variable ryPassword.\n"
    "    --ip 4|6|any [ryIp]   --connect-timeout SECONDS [ryConnectTimeout]\n"
    "       Which addresses of the relay to try, and how long each may take.\n"
    "    --cc LIST [ryCc]   --bcc LIST [ryBcc]\n"
    "       More recipients, comma-separated; Cc also as a header.\n"
    "    --ehlo on|off [ryEhlo]\n"
    "       EHLO on a plain connection too, so that the relay can pipeline.\n"
    "    --on-refused stop|continue [ryOnRefused]\n"
    "       Whether a refused recipient ends the run (status 2 when some were).\n"
    "    --charset NAME [ryCharset]\n"
    "       Declare the character set of the texts, e.g. utf-8.\n"
    "    -i -   -l -\n"
    "       Read the body, or the recipients, from standard input.\n"
    "    --dry-run FILE [ryDryRun]\n"
    "       Write the message to FILE (- for the screen) instead of sending it.\n"
    "    --exit-codes simple|sysexits [ryExitCodes]   --result-file FILE [ryResultFile]\n"
    "       A status for each kind of failure; one line of JSON on how it ended.\n"
    "    --help   --version\n"
    "       This text; the version and the TLS library.\n\n";

}  // namespace

void ShowHelp() { ConsolePrint(kHelpText); }

void ShowLongHelp() {
  ConsolePrint(kHelpText);
  ConsolePrint(kMoreHelp);
}
