// The destination site editor's logic: the checks run when the user confirms the
// dialog, and the conversions between a stored site URL (credentials embedded as
// user:password@) and the editor's separate fields. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace core {

// The editor's four text fields.
struct SiteEditorFields {
  std::string url;
  std::string user;
  std::string password;
  std::string verify_string;
};

enum class SiteEditorField { kUrl, kVerifyString };

// A confirmation the editor refuses: a message box, and where the focus goes.
struct SiteEditorRefusal {
  std::string message;
  std::string caption;
  SiteEditorField focus;
};

// What a confirmed editor hands back: "http://", "https://" or "ftp://" and the
// URL after it.
struct SiteEditorResult {
  std::string scheme;
  std::string rest;
};

// The confirmation checks. The URL is trimmed; a URL without "://" is taken as
// http. Refused: a scheme other than http://, https:// or ftp://, and a web site whose
// verify string is empty or occurs in the URL. Returns the refusal or the result
// through exactly one of the two outputs.
std::optional<SiteEditorRefusal> ConfirmSiteEditor(const SiteEditorFields& fields,
                                                   SiteEditorResult* result);

// The URL to store: scheme, then "user:password@" when the trimmed user name is
// not empty (a password without a user name is dropped), then the rest.
std::string ComposeSiteUrl(const SiteEditorResult& result, std::string_view user,
                           std::string_view password);

// The editor's fields for a stored site: credentials after an http://, https:// or ftp://
// scheme are taken out of the URL into user name and password.
SiteEditorFields SplitSiteUrl(std::string_view url, std::string_view verify_string);

}  // namespace core
