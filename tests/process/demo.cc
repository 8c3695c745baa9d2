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

int main(int argc, char** argv) {
  std::string why;
  if (!EnterPrivateNetwork(why)) {
    std::printf("Cannot make a private network: %s\n", why.c_str());
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
  ProgramRun run = RunProgram(arguments, {"TZ=UTC"});
  std::string received = relay.Received();
  std::printf("=== RyMail printed (exit status %d):\n%s\n=== The relay received:\n%s", run.status,
              run.output.c_str(), received.c_str());
  return run.status;
}
