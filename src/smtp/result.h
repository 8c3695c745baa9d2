// What a step of the delivery, or a whole run, came to: the one value the
// driver turns into the exit status, the final console text and the result
// file.
#pragma once

#include <string>
#include <string_view>

/// How a run ended, as the caller sees it.
enum class Outcome {
  kAccepted,       // the relay took the message
  kPartial,        // some recipients refused, the others accepted
  kTemporary,      // a retry may deliver
  kUnknown,        // lost after the end of data: the relay may hold the message
  kRefused,        // the relay refused for good
  kLoginRefused,   // a 5xx reply to AUTH
  kNoHost,         // the relay's name does not exist
  kProtocol,       // the relay broke the protocol
  kUsage,          // the settings as given are not valid
  kInput,          // an input file cannot be opened or read
  kOutput,         // the debug or result file cannot be created
  kSystem,         // the operating system refused a resource
  kConfiguration,  // the settings do not fit the relay
  kInternal,       // anything else
};

/// Where a run ended.
enum class Step {
  kSettings, kResolve, kConnect, kGreeting, kHelo, kEhlo, kStartTls, kTls, kAuth,
  kMail, kRcpt, kData, kMessage, kEndOfData, kQuit,
};

/// The result of one step, or of the whole delivery.
struct StepResult {
  Outcome outcome = Outcome::kAccepted;
  Step step = Step::kSettings;
  std::string reply;    // the relay's last reply in the step, verbatim; empty when none came
  std::string failure;  // the failure line printed, without its prefix; empty when none was
  std::string detail;   // what is known beyond that line, or empty
  bool endOfDataSent = false;
  bool unexpected = false;  // ended by "Previous response was not expected!": nothing is added to it

  bool Ok() const { return outcome == Outcome::kAccepted; }
};

/// A step that went as it should.
inline StepResult StepDone() { return {}; }

/// The class of a reply the step did not expect, decided from its code: 4xx
/// temporary, 5xx a refusal (at AUTH a refused login), and for those two an
/// enhanced status code ("5.7.8") whose class digit disagrees decides; 421
/// anywhere and 454 to STARTTLS are temporary; a 2xx or 3xx, or a text that
/// is not a reply, is a protocol failure.
Outcome ClassOfReply(std::string_view reply, Step step);

/// The class of a connection that closed, failed or fell silent in a step:
/// temporary, or unknown once the end of data was sent.
inline Outcome ClassOfLoss(bool endOfDataSent) { return endOfDataSent ? Outcome::kUnknown : Outcome::kTemporary; }
