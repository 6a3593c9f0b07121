#include "core/verify/site_editor.h"

#include "core/base/text.h"

namespace core {
std::optional<SiteEditorRefusal> ConfirmSiteEditor(const SiteEditorFields& fields,
                                                   SiteEditorResult* result) {
  std::string_view url = Trim(fields.url);
  SiteEditorResult r;
  if (StartsWithIgnoreAsciiCase(url, "http://")) {
    r.scheme = "http://";
    r.rest = std::string(url.substr(7));
  } else if (StartsWithIgnoreAsciiCase(url, "https://")) {
    r.scheme = "https://";
    r.rest = std::string(url.substr(8));
  } else if (StartsWithIgnoreAsciiCase(url, "ftp://")) {
    r.scheme = "ftp://";
    r.rest = std::string(url.substr(6));
  } else if (url.find("://") != std::string_view::npos) {
    return SiteEditorRefusal{"协议未知，请确定URL是以“http://”、“https://”或者“ftp://”起始的",
                             "未知的协议头", SiteEditorField::kUrl};
  } else {
    r.scheme = "http://";
    r.rest = std::string(url);
  }
  // A verify string that the URL itself contains would be found in many error
  // pages that echo the address; FTP sites have no page to search. A verify
  // string of blanks alone is as good as none: every page would match.
  if (r.scheme != "ftp://" && (Trim(fields.verify_string).empty() ||
                                url.find(fields.verify_string) != std::string_view::npos)) {
    return SiteEditorRefusal{"验证字符串中不能使用URL中出现的内容，否则验证将不可靠",
                             "请重新修改验证字符串", SiteEditorField::kVerifyString};
  }
  *result = std::move(r);
  return std::nullopt;
}

std::string ComposeSiteUrl(const SiteEditorResult& result, std::string_view user,
                           std::string_view password) {
  std::string_view name = Trim(user);
  if (name.empty()) return result.scheme + result.rest;
  return result.scheme + std::string(name) + ":" + std::string(password) + "@" + result.rest;
}

SiteEditorFields SplitSiteUrl(std::string_view url, std::string_view verify_string) {
  SiteEditorFields f;
  f.url = std::string(url);
  f.verify_string = std::string(verify_string);
  std::string_view scheme;
  if (StartsWithIgnoreAsciiCase(url, "http://")) {
    scheme = "http://";
  } else if (StartsWithIgnoreAsciiCase(url, "https://")) {
    scheme = "https://";
  } else if (StartsWithIgnoreAsciiCase(url, "ftp://")) {
    scheme = "ftp://";
  } else {
    return f;
  }
  // Credentials stand before the host's end: an "@" in the path or the query
  // is not part of them, one before the host's (the last) is the password's.
  std::string_view after = url.substr(scheme.size());
  std::string_view authority = after.substr(0, after.find_first_of("/?#"));
  size_t at = authority.rfind('@');
  if (at == std::string_view::npos) return f;
  std::string_view head = authority.substr(0, at);
  std::string_view tail = after.substr(at + 1);
  size_t colon = head.find(':');
  f.user = std::string(head.substr(0, colon));
  if (colon != std::string_view::npos) f.password = std::string(head.substr(colon + 1));
  if (!f.user.empty()) f.url = std::string(scheme) + std::string(tail);
  return f;
}

}  // namespace core
