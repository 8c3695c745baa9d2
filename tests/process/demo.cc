// Sends a sample message with RyMail through a relay on loopback port 25 in
// a private network, then shows what the program printed and what the relay
// received. Arguments after the first are passed to RyMail as well.
#include <cstdio>
#include <string>
#include <vector>

#include "process/private_network.h"
#include "process/run_program.h"
#include "process/scripted_relay.h"
#include "test_files.h"

namespace {

// The argument as a shell would need it typed.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                                      "@%+=:,./-_") == std::string::npos) {
    return argument;
  }
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

int main(int argc, char** argv) {
  std::string why;
  if (!EnterPrivateNetwork(why)) {
    std::printf("Cannot make a private network: %s\n", why.c_str());
    std::printf("Run the demonstration as root, or allow user namespaces for ordinary users:\n"
                "  sysctl -w kernel.unprivileged_userns_clone=1   (Debian's switch)\n"
                "  sysctl -w user.max_user_namespaces=15000       (when it is 0)\n");
    return 1;
  }
  TempDir dir;
  std::string body = dir.Write("body.txt",
                               "Hello from RyMail.\n"
                               ". A line that starts with a dot: sent doubled, the relay removes one.\n"
                               "Bye.\n");
  std::vector<std::string> arguments{"-f", "sender@example.com", "-t",  "rcpt@example.com", "-g", "localhost",
                                     "-h", "client.example.com", "-s", "RyMail demonstration", "-i", body};
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

  ScriptedRelay relay(AcceptingScript());
  if (!relay.Listening()) {
    std::printf("Cannot listen on 127.0.0.1:25\n");
    return 1;
  }
  std::string command = "TZ=UTC " RYMAIL_BINARY;
  for (const std::string& argument : arguments) command.append(" ").append(Quoted(argument));
  std::printf("=== RyMail ran as:\n%s\n", command.c_str());
  RunOptions options;
  options.inheritStandardInput = true;  // so that "-i -" reads what the demonstration was given
  ProgramRun run = RunProgram(arguments, {"TZ=UTC"}, options);
  std::string received = relay.Received();
  std::printf("=== RyMail printed (exit status %d):\n%s\n=== The relay received:\n%s", run.status,
              run.output.c_str(), received.c_str());
  return run.status;
}
