// AUTH: one function per mechanism, and the Base64 they send in.
#pragma once

#include <string>
#include <string_view>

#include "smtp/result.h"

class Session;

/// Base64 (RFC 4648, with padding) of the bytes.
std::string Base64(std::string_view bytes);
/// The same, appended to encoded.
void AppendBase64(std::string& encoded, std::string_view bytes);

/// Decodes Base64 (RFC 4648, padding optional) onto bytes; false at a
/// character that is not Base64.
bool DecodeBase64(std::string_view encoded, std::string& bytes);

/// The value of a member of a JSON object's top level, as text (a string
/// without its quotes and escapes); empty when there is none. Never fails:
/// text that is not JSON has no members.
std::string JsonMember(std::string_view json, std::string_view name);

/// AUTH with Settings.User and the session's secret, by the mechanism
/// Settings.Auth names (PLAIN, LOGIN, XOAUTH2, OAUTHBEARER) or, without one,
/// PLAIN or LOGIN as the relay offers them. The secret is forgotten
/// afterwards, whatever happened. Fails (connection closed) when the relay
/// does not offer the mechanism or does not answer 235; after a bearer
/// token's error report the failure names the token status.
StepResult Authenticate(Session& session);
