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

class ProfileStore {
 public:
  virtual ~ProfileStore() = default;
  virtual int32_t ReadInt(std::string_view section, std::string_view name, int32_t def) = 0;
  virtual std::string ReadText(std::string_view section, std::string_view name,
                               std::string_view def) = 0;
  // Return false when the value could not be written.
  virtual bool WriteInt(std::string_view section, std::string_view name, int32_t value) = 0;
  virtual bool WriteText(std::string_view section, std::string_view name,
                         std::string_view value) = 0;
  // Removes a value; a value that is not there is no error. Returns false only
  // when the section could not be opened for writing.
  virtual bool DeleteValue(std::string_view section, std::string_view name) = 0;

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
  bool WriteInt(std::string_view section, std::string_view name, int32_t value) override;
  bool WriteText(std::string_view section, std::string_view name, std::string_view value) override;
  bool DeleteValue(std::string_view section, std::string_view name) override;

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

  bool MayChange();
};

}  // namespace core
