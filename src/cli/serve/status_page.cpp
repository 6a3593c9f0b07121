#include "cli/serve/status_page.h"

#include "core/base/text.h"

namespace cli {
namespace {

std::string Answer(std::string_view status, std::string_view type, const std::string& body) {
  return "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: " + std::string(type) +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

// A field of a TAB-separated line.
std::string Field(std::string_view s) {
  std::string out(s);
  for (char& ch : out) {
    if (ch == '\t' || ch == '\r' || ch == '\n') ch = ' ';
  }
  return out.empty() ? "-" : out;
}

}  // namespace

std::string StatusLine(const ServeCounters& c, const ServePool& pool, double rate_per_s) {
  std::string line =
      core::Format("pool %zu, %zu usable, %llu open, %.1f conn/s", pool.rows().size(),
                   pool.usable(), static_cast<unsigned long long>(c.open), rate_per_s);
  if (c.verifying) line += ", verifying";
  if (pool.usable() == 0) line += ", no usable row: refusing clients";
  return line;
}

std::string PoolText(const ServeCounters& c, const ServePool& pool, uint64_t now_ms) {
  std::string out = core::Format("%zu rows, %zu usable, %llu verifications%s\n", pool.rows().size(),
                                 pool.usable(), static_cast<unsigned long long>(c.verifications),
                                 c.verifying ? ", verifying now" : "");
  out += "row\ttype\tstate\tscore\tchecked\tcarried\tfailed\treason\n";
  for (const PoolRow& r : pool.rows()) {
    uint64_t ago = now_ms >= r.checked_ms ? (now_ms - r.checked_ms) / 1000 : 0;
    out += Field(r.candidate.label) + '\t' + Field(r.type) + '\t' + RowStateWord(r.state) + '\t' +
           std::to_string(r.score) + '\t' + std::to_string(ago) + "s ago\t" +
           std::to_string(r.carried) + '\t' + std::to_string(r.failures) + '\t' + Field(r.reason) +
           '\n';
  }
  return out;
}

std::string MetricsText(const ServeCounters& c, const ServePool& pool) {
  size_t evicted = 0;
  for (const PoolRow& r : pool.rows()) evicted += r.state == RowState::kEvicted;
  struct Metric {
    const char* name;
    const char* type;
    const char* help;
    std::string labels;
    uint64_t value;
  } metrics[] = {
      {"relaymoth_pool_rows", "gauge", "Rows of the last verification.", "", pool.rows().size()},
      {"relaymoth_pool_usable", "gauge", "Rows in the rotation.", "", pool.usable()},
      {"relaymoth_pool_evicted", "gauge", "Rows that failed a client since their check.", "",
       evicted},
      {"relaymoth_connections_open", "gauge", "Client connections open.", "", c.open},
      {"relaymoth_connections_total", "counter", "Client connections by how they ended.",
       "{result=\"carried\"}", c.carried},
      {"relaymoth_connections_total", "", "", "{result=\"refused\"}", c.refused},
      {"relaymoth_connections_total", "", "", "{result=\"failed\"}", c.failed},
      {"relaymoth_refused_no_pool_total", "counter", "Clients refused while no row was usable.", "",
       c.no_pool},
      {"relaymoth_bytes_total", "counter", "Bytes piped.", "{direction=\"up\"}", c.bytes_up},
      {"relaymoth_bytes_total", "", "", "{direction=\"down\"}", c.bytes_down},
      {"relaymoth_evictions_total", "counter", "Rows taken out of the rotation.", "",
       pool.evictions()},
      {"relaymoth_verifications_total", "counter", "Verifications finished.", "", c.verifications},
      {"relaymoth_verifying", "gauge", "1 while a verification runs.", "", c.verifying ? 1u : 0u},
  };
  std::string out;
  for (const Metric& m : metrics) {
    if (*m.type) {
      out += std::string("# HELP ") + m.name + " " + m.help + "\n# TYPE " + m.name + " " + m.type +
             "\n";
    }
    out += m.name + m.labels + " " + std::to_string(m.value) + "\n";
  }
  return out;
}

std::string StatusAnswer(std::string_view head, const ServeCounters& c, const ServePool& pool,
                         uint64_t now_ms) {
  size_t sp1 = head.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : head.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos)
    return Answer("400 Bad Request", "text/plain", "bad request\n");
  std::string_view method = head.substr(0, sp1);
  std::string_view path = head.substr(sp1 + 1, sp2 - sp1 - 1);
  path = path.substr(0, path.find('?'));
  if (method != "GET" && method != "HEAD") {
    return Answer("405 Method Not Allowed", "text/plain", "GET only\n");
  }
  std::string answer;
  if (path == "/metrics") {
    answer = Answer("200 OK", "text/plain; version=0.0.4", MetricsText(c, pool));
  } else if (path == "/" || path == "/pool") {
    answer = Answer("200 OK", "text/plain; charset=utf-8", PoolText(c, pool, now_ms));
  } else {
    return Answer("404 Not Found", "text/plain", "try / or /metrics\n");
  }
  if (method == "HEAD") answer.resize(answer.find("\r\n\r\n") + 4);
  return answer;
}

}  // namespace cli
