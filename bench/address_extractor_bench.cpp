// Speed of finding proxies in downloaded text: a plain list, a web page with a
// table of proxies and a web page of about 10 MB without any proxy in it; and a
// list of addresses that differ only in their high octets (a page written to
// make the de-duplication slow) beside random addresses of the same size.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "core/proxylist/address_extractor.h"

namespace {

constexpr size_t kPageBytes = 10u << 20;

std::string RandomAddress(std::mt19937& rng) {
  return std::to_string(1 + rng() % 223) + "." + std::to_string(rng() % 256) + "." +
         std::to_string(rng() % 256) + "." + std::to_string(rng() % 256);
}

std::string PlainList() {
  std::mt19937 rng(1);
  const char* schemes[] = {"", "", "", "http://", "socks5://"};
  std::string text;
  while (text.size() < kPageBytes) {
    text += schemes[rng() % 5] + RandomAddress(rng) + ":" + std::to_string(1 + rng() % 65535);
    text += rng() % 4 ? "\r\n" : " 美国 高匿\r\n";
  }
  return text;
}

std::string TablePage() {
  std::mt19937 rng(2);
  std::string text =
      "<!DOCTYPE html><html><head><title>Free proxy list</title>"
      "<script src=\"/js/app-1.2.3.min.js\"></script></head><body><table class=\"table\">"
      "<thead><tr><th>IP Address</th><th>Port</th><th>Code</th><th>Country</th>"
      "<th>Anonymity</th><th>Https</th><th>Last Checked</th></tr></thead><tbody>\n";
  while (text.size() < kPageBytes) {
    text += "<tr><td>" + RandomAddress(rng) + "</td><td>" + std::to_string(1 + rng() % 65535) +
            "</td><td>US</td><td class=\"hm\">United&nbsp;States</td><td>elite proxy</td>"
            "<td class=\"hx\">no</td><td class=\"hm\">" +
            std::to_string(rng() % 60) + " secs ago</td></tr>\n";
  }
  return text + "</tbody></table></body></html>";
}

std::string PageWithoutProxies() {
  std::mt19937 rng(3);
  std::string text = "<!DOCTYPE html><html><body>\n";
  while (text.size() < kPageBytes) {
    text += "<p class=\"post\">Version " + std::to_string(rng() % 10) + "." +
            std::to_string(rng() % 10) + "." + std::to_string(rng() % 100) + "." +
            std::to_string(rng() % 1000) + ".1 was released on 2024.0" +
            std::to_string(1 + rng() % 9) +
            ".15 at 10:30 &amp; fixes <a href=\"https://example.com/issues/" +
            std::to_string(rng() % 100000) +
            "\">many bugs</a>; see the 更新日志 for details.</p>\n"
            "<div><span>Price: 1,299.00 &mdash; 20% off</span></div>\n";
  }
  return text + "</body></html>";
}

constexpr size_t kFloodBytes = 4u << 20;

// "a.b.c.1:80" lines: a and b run through all their values before c moves on.
std::string HighOctetFlood() {
  std::string text;
  for (uint32_t n = 0; text.size() < kFloodBytes; ++n) {
    text += std::to_string(1 + n % 223) + "." + std::to_string(n / 223 % 256) + "." +
            std::to_string(n / (223 * 256)) + ".1:80\n";
  }
  return text;
}

std::string RandomAddresses() {
  std::mt19937 rng(4);
  std::string text;
  while (text.size() < kFloodBytes) {
    text += RandomAddress(rng) + ":" + std::to_string(1 + rng() % 65535) + "\n";
  }
  return text;
}

void Run(benchmark::State& state, const std::string& text) {
  size_t found = 0;
  for (auto _ : state) {
    core::ExtractedProxies r = core::ExtractProxyLines(text);
    found = r.lines.size();
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["found"] = double(found);
}

void BM_ExtractPlainList(benchmark::State& state) { Run(state, PlainList()); }
BENCHMARK(BM_ExtractPlainList)->Unit(benchmark::kMillisecond);

void BM_ExtractTablePage(benchmark::State& state) { Run(state, TablePage()); }
BENCHMARK(BM_ExtractTablePage)->Unit(benchmark::kMillisecond);

void BM_ExtractPageWithoutProxies(benchmark::State& state) { Run(state, PageWithoutProxies()); }
BENCHMARK(BM_ExtractPageWithoutProxies)->Unit(benchmark::kMillisecond);

void BM_ExtractHighOctetFlood(benchmark::State& state) { Run(state, HighOctetFlood()); }
BENCHMARK(BM_ExtractHighOctetFlood)->Unit(benchmark::kMillisecond);

void BM_ExtractRandomAddressesOfTheSameSize(benchmark::State& state) {
  Run(state, RandomAddresses());
}
BENCHMARK(BM_ExtractRandomAddressesOfTheSameSize)->Unit(benchmark::kMillisecond);

}  // namespace
