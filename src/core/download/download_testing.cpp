#include "core/download/download_testing.h"

#include <algorithm>
#include <cstring>

namespace core {
namespace {

class ScriptedResponse final : public UrlResponse {
 public:
  ScriptedResponse(const UrlScript& script, ScriptedDownloader& owner, ManualClock& clock)
      : script_(script), owner_(owner), clock_(clock) {}

  int status() const override { return script_.status; }
  std::optional<uint64_t> content_length() const override { return script_.content_length; }

  ReadResult Read(char* buffer, size_t capacity) override {
    owner_.read_capacities.push_back(capacity);
    clock_.Advance(script_.ms_per_read);
    if (script_.fail_at_read && reads_++ == *script_.fail_at_read) return {false, 0};
    if (owner_.aborted) return {false, 0};
    // The body is the chunks sent `repeat` times over; piece_ walks that sequence.
    const size_t pieces = script_.chunks.size() * script_.repeat;
    while (piece_ < pieces && offset_ == Piece().size()) {
      ++piece_;
      offset_ = 0;
    }
    if (piece_ == pieces) return {true, 0};
    size_t n = std::min(capacity, Piece().size() - offset_);
    std::memcpy(buffer, Piece().data() + offset_, n);
    offset_ += n;
    return {true, n};
  }

 private:
  const std::string& Piece() const { return script_.chunks[piece_ % script_.chunks.size()]; }

  UrlScript script_;
  ScriptedDownloader& owner_;
  ManualClock& clock_;
  size_t piece_ = 0;
  size_t offset_ = 0;
  size_t reads_ = 0;
};

class ScriptedSession final : public UrlSession {
 public:
  ScriptedSession(ScriptedDownloader& owner, ManualClock& clock) : owner_(owner), clock_(clock) {}
  std::unique_ptr<UrlResponse> OpenUrl(std::string_view url) override {
    owner_.opened.emplace_back(url);
    auto it = owner_.scripts.find(std::string(url));
    if (it == owner_.scripts.end() || it->second.open_fails) return nullptr;
    return std::make_unique<ScriptedResponse>(it->second, owner_, clock_);
  }

 private:
  ScriptedDownloader& owner_;
  ManualClock& clock_;
};

class MemoryPendingFile final : public PendingFile {
 public:
  MemoryPendingFile(MemoryFileWriter& owner, std::string path)
      : owner_(owner), path_(std::move(path)) {}
  bool Write(std::string_view bytes) override {
    if (owner_.write_fails_at && writes_++ == *owner_.write_fails_at) return false;
    owner_.write_sizes.push_back(bytes.size());
    data_.append(bytes);
    return true;
  }
  bool Commit() override {
    if (owner_.commit_fails) return false;
    owner_.files[path_] = std::move(data_);
    return true;
  }

 private:
  MemoryFileWriter& owner_;
  std::string path_;
  std::string data_;
  size_t writes_ = 0;
};

}  // namespace

std::unique_ptr<UrlSession> ScriptedDownloader::OpenSession(SessionFailure* failure) {
  *failure = session_failure;
  if (session_failure != SessionFailure::kNone) return nullptr;
  return std::make_unique<ScriptedSession>(*this, clock_);
}

std::unique_ptr<PendingFile> MemoryFileWriter::Begin(std::string_view path) {
  if (begin_fails) return nullptr;
  ++begun;
  return std::make_unique<MemoryPendingFile>(*this, std::string(path));
}

}  // namespace core
