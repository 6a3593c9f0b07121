// Reading the pages a checked proxy fetches besides its sites: the anonymity grade
// from a judge page that echoes the request's headers, and the exit address from an
// address-echo page. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace core {

enum class AnonymityGrade : int {
  kUnknown = 0,  // no judge asked, or the judge page was not reached
  kTransparent,  // one of the machine's own addresses appears in the page
  kAnonymous,    // no own address, but fields a proxy adds (Via, X-Forwarded-For, ...)
  kElite,        // neither
  kTunnelled,    // the page came through a tunnel: the proxy could add nothing to the
                 // request, so the page says nothing about what it would add
};

// "transparent", "anonymous", "elite", "tunnel" or "" (unknown).
const char* GradeWord(AnonymityGrade grade);

// Grades a judge page fetched through a proxy in plain HTTP. Header names are
// matched without letter case, "_" standing for "-" and an optional "HTTP_" in
// front (the judge pages' CGI names), when a ":", "=" or quote follows them.
// `own_addresses` are matched as whole addresses ("1.2.3.4" not inside
// "11.2.3.45"), outside the lines of the Host field, which names the judge.
AnonymityGrade GradeJudgePage(std::string_view page, const std::vector<std::string>& own_addresses);

// The IP addresses (IPv4 or IPv6 literals) written in `text`, in order, each once.
std::vector<std::string> AddressesIn(std::string_view text);

}  // namespace core
