#include <deque>
#include <optional>
#include <unordered_set>
#include <vector>

#include "front/mail_settings.h"
#include "log/log.h"
#include "platform/fixed_text.h"
#include "platform/text_stream.h"
#include "smtp/address_list.h"
#include "smtp/delivery.h"
#include "smtp/exchange.h"
#include "smtp/mime.h"

namespace {

/// A recipient line holds at most this many characters besides its LF.
constexpr std::size_t kMaxRecipientLength = 254;
/// Commands written together when the relay pipelines.
constexpr std::size_t kGroupSize = 100;

// Every command and log text here is a short text and one field or recipient line: it always fits.
static_assert(kCommandBufferCapacity > sizeof "MAIL FROM: \r\n" + kFieldCapacity);
static_assert(kCommandBufferCapacity > sizeof "RCPT TO: \r\n" + kMaxRecipientLength);
static_assert(kLineBufferCapacity > sizeof "Sending MAIL FROM: \r\n" + kFieldCapacity);
static_assert(kLineBufferCapacity > sizeof "Line  of the MailToInputFile is longer than  characters" + 2 * 20);

// One command of a transaction and the records around it.
struct Command {
  enum class Kind { kMail, kRcpt, kData };
  Kind kind = Kind::kRcpt;
  std::string text;         // the whole command line
  std::string before;       // logged before it goes out, or empty
  std::string after;        // logged once it is out
  const char* sendFailure;  // logged when it could not be sent
  std::string address;      // a recipient as the account names it
};

// MAIL FROM with the parameters (" BODY=8BITMIME"), which need the address in angle brackets.
Command MailCommand(const std::string& parameters) {
  std::string address(Settings.MailFrom.view());
  if (!parameters.empty() && !(address.size() >= 2 && address.front() == '<' && address.back() == '>')) {
    address = "<" + address + ">";
  }
  Command mail{Command::Kind::kMail, "MAIL FROM: " + address + parameters + "\r\n", "", "MAIL FROM: OK",
               "Error writing MAIL FROM: tag", {}};
  mail.before = "Sending " + mail.text;
  return mail;
}

Command DataCommand() { return {Command::Kind::kData, "DATA\r\n", "Sending DATA", "DATA OK", "Error writing DATA", {}}; }

Step StepOf(const Command& command) {
  switch (command.kind) {
    case Command::Kind::kMail:
      return Step::kMail;
    case Command::Kind::kRcpt:
      return Step::kRcpt;
    case Command::Kind::kData:
      break;
  }
  return Step::kData;
}

// Every recipient of the message, in order: MailTo or each line of the
// recipient file, then the Cc and Bcc addresses that are not recipients yet.
class Recipients {
 public:
  Recipients() : cc_(ListAddresses(Settings.Cc.view())), bcc_(ListAddresses(Settings.Bcc.view())) {}

  /// The next recipient; nothing at the end, or after a failure (logged,
  /// connection closed, failure set).
  std::optional<Command> Next(Session& session, StepResult& failure) {
    if (phase_ == Phase::kPrimary) {
      if (!Settings.MailToInputFile.IsSet()) {
        phase_ = Phase::kLists;
        Command rcpt = Plain("RCPT TO: " + std::string(Settings.MailTo.view()) + "\r\n", Settings.MailTo.view());
        rcpt.before = "Sending " + rcpt.text;
        return rcpt;
      }
      std::optional<Command> line = FileLine(session, failure);
      if (line || !failure.Ok()) return line;
      phase_ = Phase::kLists;
    }
    while (next_ < cc_.size() + bcc_.size()) {
      std::string_view address = next_ < cc_.size() ? cc_[next_] : bcc_[next_ - cc_.size()];
      ++next_;
      if (!seen_.insert(ComparableAddress(address)).second) continue;
      Command rcpt = Plain("RCPT TO:<" + std::string(address) + ">\r\n", address);
      rcpt.before = "Sending " + rcpt.text;
      return rcpt;
    }
    return std::nullopt;
  }

 private:
  enum class Phase { kPrimary, kLists };

  Command Plain(std::string text, std::string_view address) {
    seen_.insert(ComparableAddress(address));
    return {Command::Kind::kRcpt, std::move(text), "", "RCPT TO: OK", "Error writing RCPT TO: tag",
            std::string(address)};
  }

  std::optional<Command> FileLine(Session& session, StepResult& failure) {
    auto refuse = [&](const char* text) {
      failure = AbortDelivery(session, Outcome::kInput, Step::kRcpt, text);
      return std::nullopt;
    };
    if (!opened_) {
      opened_ = true;
      if (!reader_.Open(Settings.MailToInputFile.c_str())) {
        return refuse("Failed to open the MailToInputFile for reading");
      }
    }
    char line[kMaxRecipientLength + 2];
    char LineBuffer[kLineBufferCapacity];
    platform::TextFileReader::Line read = reader_.ReadLine(line, sizeof line);
    ++number_;
    if (read.failed) return refuse("Failed to read the MailToInputFile");
    if (read.length == 0) return std::nullopt;
    std::string_view recipient(line, read.lineEnd ? read.length - 1 : read.length);
    if (recipient.size() > kMaxRecipientLength) {
      (void)FormatText(LineBuffer, sizeof LineBuffer, "Line %lu of the MailToInputFile is longer than %lu characters",
                       number_, static_cast<unsigned long>(kMaxRecipientLength));
      return refuse(LineBuffer);
    }
    if (recipient.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) {
      (void)FormatText(LineBuffer, sizeof LineBuffer, "Line %lu of the MailToInputFile holds a CR or zero byte", number_);
      return refuse(LineBuffer);
    }
    Command rcpt = Plain("RCPT TO: " + std::string(recipient) + "\r\n", recipient);
    rcpt.before = rcpt.text;
    rcpt.after = "Last RCPT TO: OK";
    rcpt.sendFailure = "Error writing previous RCPT TO:";
    return rcpt;
  }

  Phase phase_ = Phase::kPrimary;
  platform::TextFileReader reader_;
  bool opened_ = false;
  unsigned long number_ = 0;
  std::vector<std::string_view> cc_;
  std::vector<std::string_view> bcc_;
  std::size_t next_ = 0;
  std::unordered_set<std::string> seen_;
};

// The transactions of one message over the session.
class Transactions {
 public:
  explicit Transactions(Session& session)
      : session_(session),
        carryOn_(Settings.OnRefused.view() == "continue"),
        pipelining_(session.offer.pipelining) {}

  StepResult Run();

 private:
  // Decides, before the first MAIL FROM, how the text goes and what MAIL FROM declares.
  StepResult Prepare();
  // One MAIL transaction; delivered tells whether the relay took the message.
  StepResult Transaction(bool& delivered);
  // Writes the group and logs each command's records once it is out.
  StepResult WriteGroup(const std::vector<Command>& group);
  // Reads and judges the replies to the group, in order.
  StepResult ReadReplies(const std::vector<Command>& group);
  // The next recipient: one a cap held back, else the next of the list.
  std::optional<Command> NextRecipient(StepResult& failure);
  // Records every recipient not sent yet as refused with the reply.
  StepResult RefuseTheRest(const std::string& reply);
  void Refuse(const Command& rcpt, const std::string& reply);

  Session& session_;
  bool carryOn_;
  bool pipelining_;
  Recipients recipients_;
  std::deque<Command> carried_;  // over the relay's cap, for the next transaction
  bool listEnded_ = false;
  std::string lastRefusal_;      // the reply to the last refused recipient
  std::string capReply_;         // the relay's reply at its recipient cap
  std::string mailParameters_;   // after the MAIL FROM address
  int transaction_ = 0;
  // The transaction going on.
  std::vector<Command> acceptedHere_;
  std::size_t recipientsHere_ = 0;
  bool capped_ = false;
  bool refuseRest_ = false;
  bool dataAccepted_ = false;
};

std::optional<Command> Transactions::NextRecipient(StepResult& failure) {
  if (!carried_.empty()) {
    Command next = std::move(carried_.front());
    carried_.pop_front();
    return next;
  }
  if (listEnded_) return std::nullopt;
  std::optional<Command> next = recipients_.Next(session_, failure);
  if (!next) listEnded_ = true;
  return next;
}

void Transactions::Refuse(const Command& rcpt, const std::string& reply) {
  session_.report.refused.push_back({rcpt.address, reply});
  lastRefusal_ = reply;
}

StepResult Transactions::RefuseTheRest(const std::string& reply) {
  StepResult failure;
  while (std::optional<Command> rcpt = NextRecipient(failure)) Refuse(*rcpt, reply);
  return failure;
}

StepResult Transactions::WriteGroup(const std::vector<Command>& group) {
  if (group.size() == 1) {
    // Alone, as in lock-step: its first record before it goes out.
    const Command& command = group[0];
    if (!command.before.empty()) LogMessage(command.before, false);
    if (!SendCommand(session_, command.text)) {
      return AbortDelivery(session_, ClassOfLoss(false), StepOf(command), command.sendFailure);
    }
    LogMessage(command.after, false);
    return StepDone();
  }
  std::string text;
  for (const Command& command : group) text += command.text;
  std::size_t sent = 0;
  bool whole = session_.connection().SendWhileReceiving(text, session_.Bounds().send, &sent);
  std::size_t end = 0;
  for (const Command& command : group) {
    end += command.text.size();
    if (!command.before.empty()) LogMessage(command.before, false);
    if (end > sent || (!whole && end == text.size())) {
      return AbortDelivery(session_, ClassOfLoss(false), StepOf(command), command.sendFailure);
    }
    LogMessage(command.after, false);
  }
  return StepDone();
}

StepResult Transactions::ReadReplies(const std::vector<Command>& group) {
  for (const Command& command : group) {
    if (command.kind == Command::Kind::kData) {
      Reply reply = TakeReply(session_, session_.Bounds().dataStart);
      dataAccepted_ = IsCode(reply, "354");
      // With every recipient refused, a refused DATA is what was due.
      if (!dataAccepted_ && (!acceptedHere_.empty() || recipientsHere_ == 0)) {
        return Unexpected(session_, reply, Step::kData);
      }
      continue;
    }
    Reply reply = TakeReply(session_, session_.Bounds().command);
    if (command.kind == Command::Kind::kRcpt) ++recipientsHere_;
    if (IsCode(reply, "250")) {
      if (command.kind == Command::Kind::kRcpt) {
        acceptedHere_.push_back(command);
        ++session_.report.accepted;
      }
      continue;
    }
    if (command.kind == Command::Kind::kMail || reply.status != ReplyStatus::kComplete || !carryOn_) {
      if (command.kind == Command::Kind::kRcpt) Refuse(command, session_.Clean(reply.text));
      return Unexpected(session_, reply, StepOf(command));
    }
    bool full = ReplyCode(reply.text) == "452";
    if (full && !acceptedHere_.empty()) {
      // The relay's cap: this recipient and the rest go in the next transaction.
      capped_ = true;
      capReply_ = session_.Clean(reply.text);
      carried_.push_back(command);
      continue;
    }
    Refuse(command, session_.Clean(reply.text));
    // Full at the start of a new transaction: no transaction will take more now.
    if (full && transaction_ > 1 && recipientsHere_ == 1) refuseRest_ = true;
  }
  return StepDone();
}

StepResult Transactions::Transaction(bool& delivered) {
  delivered = false;
  ++transaction_;
  acceptedHere_.clear();
  recipientsHere_ = 0;
  capped_ = refuseRest_ = dataAccepted_ = false;
  bool pipelinedData = pipelining_ && carryOn_;
  bool dataSent = false;
  bool exhausted = false;
  std::size_t limit = pipelining_ ? kGroupSize : 1;
  std::vector<Command> group{MailCommand(mailParameters_)};
  for (;;) {
    while (group.size() < limit && !capped_ && !refuseRest_ && !exhausted) {
      StepResult failure;
      std::optional<Command> rcpt = NextRecipient(failure);
      if (!failure.Ok()) return failure;
      if (rcpt) {
        group.push_back(std::move(*rcpt));
      } else {
        exhausted = true;
      }
    }
    // With "continue" DATA goes in the last group: its reply is judged by the recipients'.
    if (pipelinedData && exhausted && !dataSent && group.size() < limit) {
      group.push_back(DataCommand());
      dataSent = true;
    }
    if (group.empty()) break;
    if (StepResult result = WriteGroup(group); !result.Ok()) return result;
    if (StepResult result = ReadReplies(group); !result.Ok()) return result;
    group.clear();
    if (capped_ || refuseRest_ || (exhausted && (dataSent || !pipelinedData))) break;
  }
  if (refuseRest_) {
    if (StepResult failure = RefuseTheRest(lastRefusal_); !failure.Ok()) return failure;
  }
  if (acceptedHere_.empty() && recipientsHere_ > 0) {
    if (dataAccepted_) {
      // The relay took DATA for nobody: end it at once, with nothing in it.
      LogMessage("Sending . for EOF", false);
      if (SendCommand(session_, ".\r\n")) (void)TakeReply(session_, session_.Bounds().endOfData);
    }
    return StepDone();
  }
  if (!dataSent) {
    if (StepResult result = WriteGroup({DataCommand()}); !result.Ok()) return result;
    if (StepResult result = ExpectReply(session_, "354", session_.Bounds().dataStart, Step::kData); !result.Ok()) {
      return result;
    }
  }
  StepResult result = SendContent(session_);
  delivered = result.Ok();
  return result;
}

// The first envelope address with a byte over 126, which only SMTPUTF8 lets through, or empty.
std::string EightBitAddress() {
  const MailSettings& s = Settings;
  std::vector<std::string_view> addresses{s.MailFrom.view()};
  if (!s.MailToInputFile.IsSet()) addresses.push_back(s.MailTo.view());
  for (const ListField* list : {&s.Cc, &s.Bcc}) {
    for (std::string_view address : ListAddresses(list->view())) addresses.push_back(address);
  }
  for (std::string_view address : addresses) {
    if (HasEightBitBytes(address)) return std::string(address);
  }
  // A recipient file that can be read twice is looked through now; standard input cannot be.
  platform::TextFileReader reader;
  if (!s.MailToInputFile.IsSet() || !reader.Open(s.MailToInputFile.c_str()) || !reader.IsRegular()) return {};
  char line[kMaxRecipientLength + 2];
  for (;;) {
    platform::TextFileReader::Line read = reader.ReadLine(line, sizeof line);
    if (read.failed || read.length == 0) return {};
    std::string_view recipient(line, read.lineEnd ? read.length - 1 : read.length);
    if (HasEightBitBytes(recipient)) return std::string(recipient);
  }
}

StepResult Transactions::Prepare() {
  if (!Settings.Charset.IsSet()) return StepDone();
  session_.eightBitBody = session_.offer.eightBitMime && BodyFitsEightBit();
  if (session_.eightBitBody) mailParameters_ += " BODY=8BITMIME";
  if (std::string address = EightBitAddress(); !address.empty()) {
    if (!session_.offer.smtpUtf8) {
      return AbortDelivery(session_, Outcome::kConfiguration, Step::kMail,
                           "The address " + address + " needs SMTPUTF8, which the relay does not offer");
    }
    mailParameters_ += " SMTPUTF8";
  }
  return StepDone();
}

StepResult Transactions::Run() {
  if (StepResult failure = Prepare(); !failure.Ok()) return failure;
  StepResult last;
  bool anyDelivered = false;
  for (;;) {
    bool delivered = false;
    StepResult result = Transaction(delivered);
    if (!result.Ok()) {
      if (!anyDelivered) return result;
      // Some recipients have the message already: the rest are refused, and the run is partial.
      for (const Command& rcpt : acceptedHere_) Refuse(rcpt, result.reply);
      session_.report.accepted -= acceptedHere_.size();
      if (StepResult failure = RefuseTheRest(result.reply); !failure.Ok()) result = failure;
      last.failure = result.failure;
      break;
    }
    if (!delivered) break;
    anyDelivered = true;
    last = result;
    if (carried_.empty()) break;
    // Standard input has been read: the message cannot go out a second time.
    if (Settings.InputFile.view() == "-") {
      if (StepResult failure = RefuseTheRest(capReply_); !failure.Ok()) last.failure = failure.failure;
      break;
    }
  }
  if (session_.IsOpen()) SayGoodbye(session_);
  const std::vector<RefusedRecipient>& refused = session_.report.refused;
  for (const RefusedRecipient& recipient : refused) {
    std::string reply = recipient.reply;
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
    LogMessage("Refused " + recipient.address + ": " + reply, false);
  }
  if (anyDelivered) {
    if (!refused.empty()) last.outcome = Outcome::kPartial;
    return last;
  }
  // Nothing delivered, nothing failed on the way: every recipient was refused.
  std::string text = "All " + std::to_string(refused.size()) + " recipients were refused.";
  LogMessage(text, true);
  StepResult result;
  result.outcome = ClassOfReply(lastRefusal_, Step::kRcpt);
  result.step = Step::kRcpt;
  result.reply = lastRefusal_;
  result.failure = text;
  return result;
}

}  // namespace

StepResult SayHelo(Session& session) {
  char CommandBuffer[kCommandBufferCapacity];
  (void)FormatText(CommandBuffer, sizeof CommandBuffer, "HELO %s\r\n", Settings.Helo.c_str());
  if (!SendCommand(session, CommandBuffer)) {
    return AbortDelivery(session, ClassOfLoss(false), Step::kHelo, "Error saying HELO");
  }
  LogMessage("HELO was OK.", false);
  return ExpectReply(session, "250", session.Bounds().command, Step::kHelo);
}

StepResult SendTransactions(Session& session) { return Transactions(session).Run(); }

StepResult LogEnvelope(Session& session) {
  LogMessage(MailCommand({}).text, false);
  Recipients recipients;
  StepResult failure;
  while (std::optional<Command> rcpt = recipients.Next(session, failure)) LogMessage(rcpt->text, false);
  return failure;
}
