// The network seam of the list download: a UrlDownloader opens a session, the
// session opens one URL (HTTP, HTTPS or FTP) and the response is read in chunks.
// The Windows shell implements it with WinInet (direct connection, never through
// the system proxy); tests use a scripted downloader. A downloader and what it
// opens belong to the thread running the download, except Abort (any thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace core {

struct ReadResult {
  bool ok = true;    // false: the connection failed (or was aborted) mid-way, or the
                     // body ended before its own end (a chunked body cut short)
  size_t bytes = 0;  // bytes placed in the buffer; 0 with ok means the body ended
};

// An opened URL. Destroying it closes the request.
class UrlResponse {
 public:
  virtual ~UrlResponse() = default;
  // The HTTP status code, or 0 for a protocol without one (FTP).
  virtual int status() const = 0;
  // The announced body length (Content-Length), when the server gave one.
  virtual std::optional<uint64_t> content_length() const = 0;
  // Reads the next piece of the body, at most `capacity` bytes, blocking until
  // some bytes arrive, the body ends or the connection fails.
  virtual ReadResult Read(char* buffer, size_t capacity) = 0;
};

// An open Internet session. Destroying it closes the session and anything still
// open beneath it.
class UrlSession {
 public:
  virtual ~UrlSession() = default;
  // Opens `url` bypassing every cache in both directions. Null when the URL
  // cannot be opened (bad address, no such host, refused connection).
  virtual std::unique_ptr<UrlResponse> OpenUrl(std::string_view url) = 0;
  // Why the last OpenUrl gave null, in the user's words; "" when unknown.
  virtual std::string last_failure() const { return {}; }
};

// The user's words for a failed open's system error code (WinInet's numbers,
// 12001 on): the name not found, refused, timed out, broken off, a bad
// address; "错误代码 N" for any other.
std::string OpenFailureText(uint32_t code);

enum class SessionFailure {
  kNone,
  kModemBusy,   // the connection state reports a busy modem
  kNoInternet,  // no Internet session could be opened
};

class UrlDownloader {
 public:
  virtual ~UrlDownloader() = default;
  // Checks the connection state and opens a session. Null, with `*failure` set,
  // when the modem is busy or no session could be opened.
  virtual std::unique_ptr<UrlSession> OpenSession(SessionFailure* failure) = 0;
  // Any thread: closes whatever is open, so that a blocked call returns at once
  // with a failure, and makes every later call fail. Never blocks.
  virtual void Abort() = 0;
};

}  // namespace core
