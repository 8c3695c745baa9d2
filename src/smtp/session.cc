#include "smtp/session.h"

#include "front/mail_settings.h"
#include "platform/fixed_text.h"
#include "smtp/auth.h"

namespace {

constexpr std::size_t kShortestHiddenSecret = 4;
constexpr char kHidden[] = "[secret]";

}  // namespace

Session::Session(ReplyBounds bounds) : bounds_(bounds), secret_(new char[kPasswordCapacity]) {
  secretLength_ = Settings.Password.Length();
  for (std::size_t i = 0; i < secretLength_; ++i) secret_[i] = Settings.Password.c_str()[i];
  Settings.Password.Wipe();
  forms_.reserve(8);  // no reallocation leaves a copy behind
  if (secretLength_ >= kShortestHiddenSecret) AddSecretForm(Secret());
}

Session::Session(ConnectionOps ops, ReplyBounds bounds) : Session(bounds) { Open(std::move(ops)); }

Session::~Session() {
  Close();
  ForgetSecret();
}

void Session::Open(ConnectionOps ops) { connection_ = std::make_unique<Connection>(std::move(ops), bounds_); }

void Session::Close() {
  if (connection_) connection_->Close();
}

void Session::ForgetSecret() {
  WipeBytes(secret_.get(), kPasswordCapacity);
  secretLength_ = 0;
  for (std::string& form : forms_) WipeText(form);
  forms_.clear();
}

void Session::AddSecretForm(std::string_view form) {
  if (forms_.size() == forms_.capacity()) return;
  forms_.emplace_back();
  forms_.back().reserve((form.size() + 2) / 3 * 4);
  AppendBase64(forms_.back(), form);
}

std::string Session::Clean(std::string_view relayText) const {
  std::string text(relayText);
  auto hide = [&text](std::string_view secret) {
    if (secret.size() < kShortestHiddenSecret) return;
    for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 1)) {
      text.replace(at, secret.size(), kHidden);
    }
  };
  for (const std::string& form : forms_) hide(form);
  hide(Secret());
  return text;
}
