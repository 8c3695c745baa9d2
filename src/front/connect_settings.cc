#include "front/connect_settings.h"

#include "front/mail_settings.h"
#include "front/options.h"

namespace {

constexpr unsigned kMaxConnectSeconds = 600;

// The whole seconds of a ConnectTimeout value, or 0 when it is not 1-600.
unsigned ConnectSeconds(std::string_view value) {
  if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) return 0;
  unsigned seconds = 0;
  for (char digit : value) {
    seconds = seconds * 10 + static_cast<unsigned>(digit - '0');
    if (seconds > kMaxConnectSeconds) return 0;
  }
  return seconds;
}

}  // namespace

Refusal CompleteConnectSettings(const platform::Environment& environment) {
  MailSettings& s = Settings;
  struct {
    Field& field;
    const char* name;
    const char* variable;
  } settings[] = {{s.Ip, "Ip", "ryIp"}, {s.ConnectTimeout, "ConnectTimeout", "ryConnectTimeout"}};
  for (const auto& setting : settings) {
    if (setting.field.IsSet()) continue;
    if (auto value = environment.Find(setting.variable)) {
      if (Refusal refused = StoreSetting(setting.field, setting.name, *value, true); !refused.empty()) return refused;
    }
  }
  if (s.Ip.IsSet() && !OneOf(s.Ip.view(), {"4", "6", "any"})) return FramedFailure("The Ip value must be 4, 6 or any.");
  if (s.ConnectTimeout.IsSet() && ConnectSeconds(s.ConnectTimeout.view()) == 0) {
    return FramedFailure("The ConnectTimeout value must be a number of seconds from 1 to 600.");
  }
  return {};
}

ReplyBounds DeliveryBounds() {
  ReplyBounds bounds;
  if (unsigned seconds = ConnectSeconds(Settings.ConnectTimeout.view())) bounds.connect = std::chrono::seconds(seconds);
  return bounds;
}
