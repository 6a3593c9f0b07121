// The application profile: named sections of integer and text values that
// outlive a run (the registry on Windows, memory in tests). A missing value, or
// one stored with the other kind, reads as the caller's default. Implementations
// are used from the UI thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace core {

// The outcome of a profile write: success, or the reason the store gives for
// refusing it ("写入 Proxy List\\FavoriteProxy_000: 拒绝访问。 (5)"). Converts to
// bool for `if (!store.WriteInt(...))`; a result left unread is a compile
// warning, since a lost write loses what the user gave.
class [[nodiscard]] WriteStatus {
 public:
  WriteStatus() = default;  // success
  static WriteStatus Ok() { return WriteStatus(); }
  // A refusal; an empty reason still counts as one.
  static WriteStatus Failed(std::string reason) {
    WriteStatus s;
    s.failed_ = true;
    s.reason_ = std::move(reason);
    return s;
  }
  bool ok() const { return !failed_; }
  operator bool() const { return ok(); }  // NOLINT(google-explicit-constructor)
  // Why the write was refused; empty when ok.
  const std::string& reason() const { return reason_; }
  // Keeps the first failure of a run of writes that all go ahead.
  WriteStatus& operator&=(WriteStatus other) {
    if (ok() && !other.ok()) *this = std::move(other);
    return *this;
  }
  // Leaves a result unread on purpose (a tidy-up whose failure changes nothing).
  void Ignore() const {}

 private:
  bool failed_ = false;
  std::string reason_;
};

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  virtual int32_t ReadInt(std::string_view section, std::string_view name, int32_t def) = 0;
  virtual std::string ReadText(std::string_view section, std::string_view name,
                               std::string_view def) = 0;
  // Fail, with the store's reason, when the value could not be written.
  virtual WriteStatus WriteInt(std::string_view section, std::string_view name, int32_t value) = 0;
  virtual WriteStatus WriteText(std::string_view section, std::string_view name,
                                std::string_view value) = 0;
  // Removes a value; a value that is not there is no error. Fails only when
  // the section could not be opened for writing or the removal was refused.
  virtual WriteStatus DeleteValue(std::string_view section, std::string_view name) = 0;

  // Keeps one section open between the two calls, so that a long run of
  // reads and writes (saving the list) goes through one open key. Optional:
  // the default keeps nothing open.
  virtual void HoldSection(std::string_view /*section*/) {}
  virtual void ReleaseSection() {}
};

// Holds a section of a store open for the life of the scope.
class HeldSection {
 public:
  HeldSection(ProfileStore& store, std::string_view section) : store_(store) {
    store_.HoldSection(section);
  }
  ~HeldSection() { store_.ReleaseSection(); }
  HeldSection(const HeldSection&) = delete;
  HeldSection& operator=(const HeldSection&) = delete;

 private:
  ProfileStore& store_;
};

// A profile held in memory: for tests and for the command-line tool.
class MemoryProfileStore final : public ProfileStore {
 public:
  using Value = std::variant<int32_t, std::string>;

  int32_t ReadInt(std::string_view section, std::string_view name, int32_t def) override;
  std::string ReadText(std::string_view section, std::string_view name,
                       std::string_view def) override;
  WriteStatus WriteInt(std::string_view section, std::string_view name, int32_t value) override;
  WriteStatus WriteText(std::string_view section, std::string_view name,
                        std::string_view value) override;
  WriteStatus DeleteValue(std::string_view section, std::string_view name) override;

  // Makes every later write and delete fail, as a read-only registry would.
  void set_read_only(bool on) { read_only_ = on; }
  // Lets `n` more writes and deletes succeed, then fails every later one, as
  // if the program had been killed there; -1: no limit.
  void set_changes_left(int n) { changes_left_ = n; }
  int changes_left() const { return changes_left_; }
  const std::map<std::pair<std::string, std::string>, Value>& values() const { return values_; }
  bool Has(std::string_view section, std::string_view name) const;

 private:
  std::map<std::pair<std::string, std::string>, Value> values_;
  bool read_only_ = false;
  int changes_left_ = -1;

  WriteStatus MayChange(std::string_view section, std::string_view name);
};

}  // namespace core
