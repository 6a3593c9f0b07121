#include "core/proxylist/proxy_list.h"

#include <algorithm>
#include <random>

#include "core/base/text.h"
#include "core/proxylist/list_sort.h"
#include "core/proxylist/natural_compare.h"
#include "core/proxylist/proxy_line.h"

namespace core {

std::string_view ProxyRow::Column(int column) const {
  switch (column) {
    case kColAddress: return address;
    case kColPort: return port;
    case kColType:
      return type_shown;
    case kColStatus: return status;
    case kColLocation: return location;
    default: return result;
  }
}

std::string ProxyRow::ShownColumn(int column) const {
  if (column == kColAddress && login) return std::string(user) + "@" + std::string(address);
  return std::string(Column(column));
}

namespace {

// Every type a row can have; a row keeps the index of its own. The SOCKS kinds
// come last, from kTypeSocks on.
constexpr std::string_view kTypeNames[] = {"",      "HTTP",   "HTTPS",  "FTP",    "GOPHER",
                                           "SOCKS", "SOCKS4", "SOCKS5", "SOCKS4A"};
constexpr uint8_t kTypeHttp = 1;
constexpr uint8_t kTypeHttps = 2;
constexpr uint8_t kTypeSocks = 5;
// The type column of a row with a user name and password; the password itself
// is never shown.
constexpr std::string_view kTypeNamesWithLogin[] = {
    "(密码)",       "HTTP (密码)",   "HTTPS (密码)",  "FTP (密码)",    "GOPHER (密码)",
    "SOCKS (密码)", "SOCKS4 (密码)", "SOCKS5 (密码)", "SOCKS4A (密码)"};
static_assert(std::size(kTypeNames) == std::size(kTypeNamesWithLogin));

// A log-in's two sizes in front of its texts.
constexpr size_t kLoginHeader = 4;

void AppendSize(std::string& text, size_t size) {
  text += char(size & 0xFF);
  text += char(size >> 8);
}

size_t ReadSize(std::string_view text, size_t at) {
  return size_t(static_cast<unsigned char>(text[at])) |
         size_t(static_cast<unsigned char>(text[at + 1])) << 8;
}

// The index of a type word; std::size(kTypeNames) for a word that is no type.
uint8_t FindTypeIndex(std::string_view type) {
  for (size_t i = 0; i < std::size(kTypeNames); ++i) {
    if (type == kTypeNames[i]) return uint8_t(i);
  }
  return uint8_t(std::size(kTypeNames));
}

uint8_t TypeIndex(std::string_view type) {
  uint8_t index = FindTypeIndex(type);
  return index < std::size(kTypeNames) ? index : 0;  // the parser lets no other type through
}

// SOCKS4, SOCKS4A and SOCKS5 on one address and port are the same entry.
uint8_t KeyKind(uint8_t type) { return type > kTypeSocks ? kTypeSocks : type; }

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool StartsWithReservedMark(std::string_view text) {
  return text.size() >= kReservedMark.size() &&
         EqualsIgnoreAsciiCase(text.substr(0, kReservedMark.size()), kReservedMark);
}

// FNV-1a from a per-list seed, so that a list made to collide in one process
// does not in the next.
uint32_t Mix(uint32_t h, unsigned char c) { return (h ^ c) * 16777619u; }

// FNV's low bits depend only on the low bits of the bytes; the key table uses
// the low bits, so they are stirred with the high ones at the end.
uint32_t Finish(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  return h ^ (h >> 16);
}

// A key table entry: the row index + 1 in the low bits, the hash's top bits
// above them as a tag.
constexpr uint32_t kKeyIndexBits = 20;
constexpr uint32_t kKeyIndexMask = (1u << kKeyIndexBits) - 1;
static_assert(kMaxListRows < kKeyIndexMask, "row indexes must fit the key table's entries");

uint32_t KeyTag(uint32_t hash) { return hash & ~kKeyIndexMask; }
uint32_t KeyEntry(size_t row, uint32_t hash) { return uint32_t(row + 1) | KeyTag(hash); }

}  // namespace

ProxyList::ProxyList() : key_seed_(std::random_device{}() | 1u) {}

std::unique_ptr<const ProxyList> ProxyList::Snapshot() const {
  // Only what the row texts are read from: no key table, locator or observer.
  std::unique_ptr<ProxyList> copy(new ProxyList(SnapshotTag{}));
  copy->rows_ = rows_;
  copy->text_ = text_;
  copy->texts_.CopyForReading(texts_);
  copy->selection_ = selection_;
  copy->sources_ = sources_;
  copy->favorite_count_ = favorite_count_;
  copy->saved_version_ = saved_version_;
  copy->result_version_ = result_version_;
  return copy;
}

std::string_view ProxyList::AddressOf(const Slot& s) const {
  return std::string_view(text_).substr(size_t(s.text), s.address_size);
}

std::string_view ProxyList::PortOf(const Slot& s) const {
  return std::string_view(text_).substr(size_t(s.text) + s.address_size, s.port_size);
}

std::string_view ProxyList::UserOf(const Slot& s) const {
  if (!s.login) return {};
  size_t at = size_t(s.text) + s.address_size + s.port_size;
  return std::string_view(text_).substr(at + kLoginHeader, ReadSize(text_, at));
}

std::string_view ProxyList::PasswordOf(const Slot& s) const {
  if (!s.login) return {};
  size_t at = size_t(s.text) + s.address_size + s.port_size;
  return std::string_view(text_).substr(at + kLoginHeader + ReadSize(text_, at),
                                        ReadSize(text_, at + 2));
}

size_t ProxyList::TextSizeOf(const Slot& s) const {
  size_t size = size_t(s.address_size) + s.port_size;
  if (!s.login) return size;
  size_t at = size_t(s.text) + size;
  return size + kLoginHeader + ReadSize(text_, at) + ReadSize(text_, at + 2);
}

ProxyRow ProxyList::row(size_t index) const {
  const Slot& s = rows_[index];
  ProxyRow r;
  r.address = AddressOf(s);
  r.port = PortOf(s);
  r.type = kTypeNames[s.type];
  r.type_shown = s.login ? kTypeNamesWithLogin[s.type] : r.type;
  r.user = UserOf(s);
  r.login = s.login;
  r.status = texts_.Get(s.status);
  r.location = texts_.Get(s.location);
  r.result = texts_.Get(s.result);
  r.score = s.score;
  r.favorite = s.favorite;
  r.selected = selection_.Contains(index);
  r.source = s.source;
  if (!expiry_.empty()) r.expired = RowExpired(index);
  return r;
}

ProxyList::KeyParts ProxyList::KeyOf(std::string_view address, std::string_view port, uint8_t type,
                                     std::string_view user) const {
  KeyParts key{address, port, user, KeyKind(type), key_seed_ * 2166136261u};
  // A row with a log-in is written as a URL, which names only the protocol:
  // untyped, HTTP and HTTPS rows with one are one entry, as the SOCKS kinds are.
  if (!user.empty() && key.kind <= kTypeHttps) key.kind = kTypeHttp;
  for (char c : address) key.hash = Mix(key.hash, static_cast<unsigned char>(AsciiUpper(c)));
  key.hash = Mix(key.hash, ':');
  for (char c : port) key.hash = Mix(key.hash, static_cast<unsigned char>(c));
  key.hash = Mix(key.hash, key.kind);
  // A user name may hold any byte but controls; 0 cannot be one of them.
  if (!user.empty()) key.hash = Mix(key.hash, 0);
  for (char c : user) key.hash = Mix(key.hash, static_cast<unsigned char>(c));
  key.hash = Finish(key.hash);
  return key;
}

bool ProxyList::SameKey(const Slot& s, const KeyParts& key) const {
  uint8_t kind = KeyKind(s.type);
  if (s.login && kind <= kTypeHttps) kind = kTypeHttp;
  return s.key_hash == key.hash && kind == key.kind && PortOf(s) == key.port &&
         EqualsIgnoreAsciiCase(AddressOf(s), key.address) && UserOf(s) == key.user;
}

size_t ProxyList::FindKey(const KeyParts& key) const {
  if (key_table_.empty()) return SIZE_MAX;
  size_t mask = key_table_.size() - 1;
  uint32_t tag = KeyTag(key.hash);
  for (size_t i = key.hash & mask;; i = (i + 1) & mask) {
    uint32_t entry = key_table_[i];
    if (entry == 0) return SIZE_MAX;
    // The tag spares most rows a visit.
    if ((entry & ~kKeyIndexMask) != tag) continue;
    size_t row = (entry & kKeyIndexMask) - 1;
    if (SameKey(rows_[row], key)) return row;
  }
}

void ProxyList::InsertKey(size_t index) {
  if ((rows_.size()) * 2 > key_table_.size()) {
    RebuildKeys(rows_.size());
    return;  // the rebuild took in every row, this one too
  }
  size_t mask = key_table_.size() - 1;
  size_t i = rows_[index].key_hash & mask;
  while (key_table_[i] != 0) i = (i + 1) & mask;
  key_table_[i] = KeyEntry(index, rows_[index].key_hash);
}

void ProxyList::EraseKey(size_t index) {
  if (key_table_.empty()) return;
  size_t mask = key_table_.size() - 1;
  size_t hole = rows_[index].key_hash & mask;
  while ((key_table_[hole] & kKeyIndexMask) != index + 1) {
    if (key_table_[hole] == 0) return;
    hole = (hole + 1) & mask;
  }
  // Later entries of the same run move up into the hole unless their home slot
  // lies after it, so that a lookup never meets an empty slot before its entry.
  for (size_t j = (hole + 1) & mask; key_table_[j] != 0; j = (j + 1) & mask) {
    size_t home = rows_[(key_table_[j] & kKeyIndexMask) - 1].key_hash & mask;
    bool stays = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
    if (stays) continue;
    key_table_[hole] = key_table_[j];
    hole = j;
  }
  key_table_[hole] = 0;
}

bool ProxyList::SetRowType(size_t index, std::string_view type) {
  if (index >= rows_.size()) return false;
  uint8_t code = FindTypeIndex(type);
  if (code >= std::size(kTypeNames)) return false;
  Slot& s = rows_[index];
  if (code == s.type) return true;
  KeyParts key = KeyOf(AddressOf(s), PortOf(s), code, UserOf(s));
  size_t holder = FindKey(key);
  if (holder != SIZE_MAX && holder != index) return false;
  std::string key_before = changes_.overflow ? std::string() : RowJournalKey(index);
  EraseKey(index);
  s.type = code;
  s.key_hash = key.hash;
  InsertKey(index);
  ++saved_version_;
  RecordState(index, std::move(key_before));
  NotifyChanged(index);
  return true;
}

void ProxyList::RebuildKeys(size_t capacity_for) {
  size_t size = 16;
  while (size < capacity_for * 2) size *= 2;
  key_table_.assign(size, 0);
  if (rows_.empty() && capacity_for == 0) {
    std::vector<uint32_t>().swap(key_table_);
    return;
  }
  size_t mask = size - 1;
  for (size_t r = 0; r < rows_.size(); ++r) {
    size_t i = rows_[r].key_hash & mask;
    while (key_table_[i] != 0) i = (i + 1) & mask;
    key_table_[i] = KeyEntry(r, rows_[r].key_hash);
  }
}

void ProxyList::SetText(uint32_t* id, std::string_view text) {
  uint32_t old = *id;
  *id = texts_.Acquire(text);  // before the release: the new text may be the old one
  texts_.Release(old);
}

void ProxyList::ReleaseTexts(const Slot& s) {
  texts_.Release(s.status);
  texts_.Release(s.location);
  texts_.Release(s.result);
}

AddResult ProxyList::AddProxy(std::string_view line, bool favorite, LineOrigin origin) {
  ProxyLine parsed;
  if (!ParseProxyLine(line, &parsed)) return AddResult::kRefused;
  return AddParsed(parsed, favorite, origin);
}

std::optional<size_t> ProxyList::IndexOfParsed(const ProxyLine& parsed) const {
  size_t at = FindKey(KeyOf(parsed.address, parsed.port, TypeIndex(parsed.type), parsed.user));
  return at == SIZE_MAX ? std::nullopt : std::optional<size_t>(at);
}

AddResult ProxyList::AddParsed(const ProxyLine& parsed, bool favorite, LineOrigin origin) {
  // The sizes must fit their two bytes; the parser keeps them far below.
  if (parsed.user.size() > 0xFFFF || parsed.password.size() > 0xFFFF ||
      parsed.address.size() > 0xFFFF || parsed.port.size() > 0xFFFF) {
    return AddResult::kRefused;
  }
  std::string_view remark = parsed.remark;
  if (origin == LineOrigin::kOutside) {
    // "<保留ip><保留ip>x" would still be reserved after one mark went.
    while (StartsWithReservedMark(remark)) remark = Trim(remark.substr(kReservedMark.size()));
  }
  uint8_t type = TypeIndex(parsed.type);
  KeyParts key = KeyOf(parsed.address, parsed.port, type, parsed.user);
  if (FindKey(key) != SIZE_MAX) return AddResult::kDuplicate;
  if (rows_.size() >= kMaxListRows) return AddResult::kListFull;

  std::string located;
  if (remark.empty() && locator_) {
    located = locator_(parsed.address);
    remark = located;
  }
  Slot s;
  s.text = text_.size();
  s.address_size = uint16_t(parsed.address.size());
  s.port_size = uint16_t(parsed.port.size());
  text_.append(parsed.address).append(parsed.port);
  if (parsed.has_credentials()) {
    s.login = true;
    AppendSize(text_, parsed.user.size());
    AppendSize(text_, parsed.password.size());
    text_.append(parsed.user).append(parsed.password);
  }
  s.status = texts_.Acquire(kStatusNotVerified);
  s.location = texts_.Acquire(remark);
  s.key_hash = key.hash;
  s.type = type;
  s.id = NewId(rows_.size());
  rows_.push_back(s);
  selection_.Add(rows_.size() - 1, rows_.size());
  InsertKey(rows_.size() - 1);
  ++saved_version_;
  RecordAdded(rows_.size() - 1);
  NotifyAppended(rows_.size() - 1);
  if (favorite) SetChecked(rows_.size() - 1, true);
  return AddResult::kAdded;
}

ProxyList::TakeCounts ProxyList::TakeRows(ProxyList& staged) {
  TakeCounts counts;
  Batch batch(*this);
  size_t room = std::min(kMaxListRows, rows_.size() + staged.rows_.size());
  rows_.reserve(room);
  text_.reserve(text_.size() + staged.text_.size());
  if (room * 2 > key_table_.size()) RebuildKeys(room);
  // Each staged text is looked up here once; its other rows count on that.
  std::vector<uint32_t> ids(staged.texts_.id_limit(), UINT32_MAX);
  ids[SharedTexts::kEmpty] = SharedTexts::kEmpty;
  auto take_text = [&](uint32_t from) {
    uint32_t& id = ids[from];
    if (id == UINT32_MAX) {
      id = texts_.Acquire(staged.texts_.Get(from));
    } else {
      texts_.AddHolder(id);
    }
    return id;
  };
  // Keys are checked against this list's rows only: the staged rows are
  // distinct among themselves already.
  for (const Slot& from : staged.rows_) {
    std::string_view address = staged.AddressOf(from);
    std::string_view port = staged.PortOf(from);
    KeyParts key = KeyOf(address, port, from.type, staged.UserOf(from));
    if (FindKey(key) != SIZE_MAX) {
      ++counts.duplicates;
      continue;
    }
    if (rows_.size() >= kMaxListRows) {
      ++counts.full;
      continue;
    }
    Slot s = from;
    s.source = 0;  // a number in the staged list's own table
    bool selected = staged.selection_.Contains(size_t(&from - staged.rows_.data()));
    s.text = text_.size();
    text_.append(staged.text_, size_t(from.text), staged.TextSizeOf(from));
    s.status = take_text(from.status);
    s.location = take_text(from.location);
    s.result = take_text(from.result);
    s.key_hash = key.hash;
    s.id = NewId(rows_.size());
    rows_.push_back(s);
    if (selected) selection_.Add(rows_.size() - 1, rows_.size());
    InsertKey(rows_.size() - 1);
    RecordAdded(rows_.size() - 1);
    favorite_count_ += s.favorite ? 1 : 0;
    if (s.favorite) NotifyFavorites();
    NotifyAppended(rows_.size() - 1);
    ++counts.added;
  }
  if (counts.added > 0) ++saved_version_;
  staged.RemoveAll();
  return counts;
}

namespace {

// The index of an id entry that no row holds.
constexpr uint32_t kFreeIdIndex = UINT32_MAX;

RowId MakeRowId(uint32_t entry, uint32_t generation) {
  return RowId((uint64_t(generation) << 32) | entry);
}

}  // namespace

uint32_t ProxyList::NewId(size_t index) {
  uint32_t entry;
  if (!free_ids_.empty()) {
    entry = free_ids_.back();
    free_ids_.pop_back();
  } else {
    entry = uint32_t(ids_.size());
    ids_.push_back({kFreeIdIndex, 0});
  }
  IdEntry& e = ids_[entry];
  e.index = uint32_t(index);
  // Generation 0 is never handed out, so that no id is kNoRow.
  if (++e.generation == 0) e.generation = 1;
  return entry;
}

void ProxyList::FreeId(uint32_t entry) {
  if (entry >= ids_.size() || ids_[entry].index == kFreeIdIndex) return;
  if (!expiry_.empty()) expiry_.erase(entry);
  ids_[entry].index = kFreeIdIndex;
  free_ids_.push_back(entry);
}

void ProxyList::ReindexIds() {
  for (size_t i = 0; i < rows_.size(); ++i) ids_[rows_[i].id].index = uint32_t(i);
}

RowId ProxyList::IdAt(size_t index) const {
  if (index >= rows_.size() || ids_.empty()) return kNoRow;
  uint32_t entry = rows_[index].id;
  return MakeRowId(entry, ids_[entry].generation);
}

std::optional<size_t> ProxyList::IndexOf(RowId id) const {
  uint64_t value = uint64_t(id);
  uint32_t entry = uint32_t(value);
  uint32_t generation = uint32_t(value >> 32);
  if (generation == 0 || entry >= ids_.size()) return std::nullopt;
  const IdEntry& e = ids_[entry];
  if (e.generation != generation || e.index == kFreeIdIndex || e.index >= rows_.size()) {
    return std::nullopt;
  }
  return size_t(e.index);
}

std::string ProxyList::RowHostPort(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  const Slot& s = rows_[size_t(index)];
  return HostPortText(AddressOf(s), PortOf(s));
}

std::string ProxyList::RowProxyText(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  const Slot& s = rows_[size_t(index)];
  if (s.login) return LoginProxyText(AddressOf(s), PortOf(s), kTypeNames[s.type], UserOf(s));
  if (KeyKind(s.type) == kTypeSocks) {
    return FullLineText(AddressOf(s), PortOf(s), kTypeNames[s.type], "");
  }
  return HostPortText(AddressOf(s), PortOf(s));
}

namespace {

// The journal key of a row's parts; see RowJournalKey.
std::string JournalKeyText(std::string_view address, std::string_view port, uint8_t type,
                           std::string_view user) {
  uint8_t kind = KeyKind(type);
  if (!user.empty() && kind <= kTypeHttps) kind = kTypeHttp;
  std::string key;
  for (char c : address) key += AsciiLower(c);
  key.append(":").append(port).append("/").append(std::to_string(kind));
  if (!user.empty()) {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (char c : user) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    key += Format("/%016llx", static_cast<unsigned long long>(h));
  }
  return key;
}

}  // namespace

std::string ProxyList::RowJournalKey(size_t index) const {
  if (index >= rows_.size()) return {};
  const Slot& s = rows_[index];
  return JournalKeyText(AddressOf(s), PortOf(s), s.type, UserOf(s));
}

std::string ProxyList::JournalKeyOf(const ProxyRow& row) {
  return JournalKeyText(row.address, row.port, TypeIndex(row.type), row.user);
}

SavedRowChange* ProxyList::Record(SavedRowChange::Kind kind) {
  if (changes_.overflow) return nullptr;
  if (changes_.rows.size() >= kMaxSavedChanges) {
    changes_.overflow = true;
    std::vector<SavedRowChange>().swap(changes_.rows);
    return nullptr;
  }
  changes_.rows.emplace_back().kind = kind;
  return &changes_.rows.back();
}

void ProxyList::RecordAdded(size_t index) {
  SavedRowChange* c = Record(SavedRowChange::Kind::kAdded);
  if (!c) return;
  c->line = RowFullLine(int64_t(index));
  c->login = RowCredentials(int64_t(index));
  c->favorite = rows_[index].favorite;
}

void ProxyList::RecordState(size_t index, std::string key_before) {
  SavedRowChange* c = Record(SavedRowChange::Kind::kState);
  if (!c) return;
  c->key = key_before.empty() ? RowJournalKey(index) : std::move(key_before);
  c->line = std::string(kTypeNames[rows_[index].type]);
  c->favorite = rows_[index].favorite;
  c->reserved = IsReserved(index);
}

std::string ProxyList::RowFullLine(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  const Slot& s = rows_[size_t(index)];
  return FullLineText(AddressOf(s), PortOf(s), kTypeNames[s.type], texts_.Get(s.location));
}

std::string ProxyList::RowExportLine(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size() || !rows_[size_t(index)].login) {
    return RowFullLine(index);
  }
  const Slot& s = rows_[size_t(index)];
  std::string line = LoginProxyText(AddressOf(s), PortOf(s), kTypeNames[s.type], UserOf(s));
  std::string_view location = texts_.Get(s.location);
  if (!location.empty()) line.append("$").append(location);
  return line;
}

std::string ProxyList::RowLineWithLogin(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  const Slot& s = rows_[size_t(index)];
  if (!s.login) return RowFullLine(index);
  return CredentialLineText(AddressOf(s), PortOf(s), kTypeNames[s.type], UserOf(s), PasswordOf(s),
                            texts_.Get(s.location));
}

std::optional<ProxyCredentials> ProxyList::RowCredentials(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return std::nullopt;
  const Slot& s = rows_[size_t(index)];
  if (!s.login) return std::nullopt;
  return ProxyCredentials{std::string(UserOf(s)), std::string(PasswordOf(s))};
}

std::optional<UpstreamProxy> ProxyList::RowUpstream(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return std::nullopt;
  const Slot& s = rows_[size_t(index)];
  std::optional<ProxyProtocol> protocol = ProtocolOfType(kTypeNames[s.type]);
  if (!protocol) return std::nullopt;
  UpstreamProxy upstream;
  // The address keeps an IPv6 literal's brackets; the target holds it bare.
  std::string_view host = AddressOf(s);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (ClassifyHost(host) == HostKind::kInvalid) return std::nullopt;
  upstream.proxy.host = std::string(host);
  upstream.proxy.port = uint16_t(LeadingDigitsValue(PortOf(s)));
  upstream.protocol = *protocol;
  upstream.credentials = RowCredentials(index);
  return upstream;
}

std::string ProxyList::RowLocation(int64_t index) const {
  if (index < 0 || uint64_t(index) >= rows_.size()) return {};
  return std::string(texts_.Get(rows_[size_t(index)].location));
}

void ProxyList::SetSelected(size_t index, bool on) {
  if (index >= rows_.size() || selection_.Contains(index) == on) return;
  if (on) {
    selection_.Add(index, index + 1);
  } else {
    selection_.Remove(index, index + 1);
  }
  NotifySelection();
}

void ProxyList::SelectAll(bool on) {
  if (selection_.count() == (on ? rows_.size() : 0)) return;
  selection_.Clear();
  if (on) selection_.Add(0, rows_.size());
  NotifySelection();
}

void ProxyList::ToggleSelected(size_t index) {
  if (index >= rows_.size()) return;
  selection_.Toggle(index);
  NotifySelection();
}

void ProxyList::SelectRange(size_t from, size_t to, bool add) {
  if (from > to) std::swap(from, to);
  if (from >= rows_.size()) return;
  if (!add) selection_.Clear();
  selection_.Add(from, std::min(to, rows_.size() - 1) + 1);
  NotifySelection();
}

void ProxyList::SetCheckedRaw(size_t index, bool on) {
  Slot& s = rows_[index];
  if (s.favorite == on) return;
  s.favorite = on;
  favorite_count_ += on ? 1 : -1;
  ++saved_version_;
  RecordState(index);
  NotifyChanged(index);
  NotifyFavorites();
}

void ProxyList::SetChecked(size_t index, bool on) {
  if (index >= rows_.size()) return;
  // A reserved row keeps its tick for as long as it carries the mark.
  if (!on && IsReserved(index)) return;
  SetCheckedRaw(index, on);
}

bool ProxyList::IsReserved(size_t index) const {
  if (index >= rows_.size()) return false;
  return StartsWithReservedMark(texts_.Get(rows_[index].location));
}

void ProxyList::SetReserved(size_t index, bool on) {
  if (index >= rows_.size()) return;
  bool reserved = IsReserved(index);
  Slot& s = rows_[index];
  std::string location(texts_.Get(s.location));
  if (on && !reserved) {
    // The mark counts toward the remark's length, as when the line is read back.
    location.insert(0, kReservedMark);
    SetText(&s.location, CapRemark(location));
    ++saved_version_;
    RecordState(index);
    NotifyChanged(index);
    SetCheckedRaw(index, true);
  } else if (!on && reserved) {
    SetText(&s.location, location.erase(0, kReservedMark.size()));
    ++saved_version_;
    RecordState(index);
    NotifyChanged(index);
  }
}

void ProxyList::MakeSelectedReserved() {
  Batch batch(*this);
  for (const RowSelection::Range& range : selection_.ranges()) {
    for (size_t i = range.first; i < range.last; ++i) SetReserved(i, true);
  }
}

void ProxyList::MakeSelectedFavorite() {
  Batch batch(*this);
  for (const RowSelection::Range& range : selection_.ranges()) {
    for (size_t i = range.first; i < range.last; ++i) {
      SetReserved(i, false);
      SetChecked(i, true);
    }
  }
}

void ProxyList::MakeSelectedGeneral() {
  Batch batch(*this);
  for (const RowSelection::Range& range : selection_.ranges()) {
    for (size_t i = range.first; i < range.last; ++i) {
      SetReserved(i, false);
      SetChecked(i, false);
    }
  }
}

void ProxyList::SetVerifyResult(size_t index, std::string status, std::string result,
                                int32_t score) {
  if (index >= rows_.size()) return;
  Slot& s = rows_[index];
  SetText(&s.status, status);
  SetText(&s.result, result);
  s.score = score;
  ++result_version_;
  NotifyChanged(index);
}

void ProxyList::SetStatusText(size_t index, std::string status) {
  if (index >= rows_.size()) return;
  SetText(&rows_[index].status, status);
  ++result_version_;
  NotifyChanged(index);
}

size_t ProxyList::RemoveSelected() {
  return RemoveRowsIf([](const ProxyRow& r) { return r.selected; });
}

size_t ProxyList::RemoveRowsIf(const std::function<bool(const ProxyRow&)>& remove) {
  std::vector<bool> gone(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) gone[i] = remove(row(i));
  return RemoveRowsAt(std::move(gone));
}

size_t ProxyList::RemoveRowsAt(std::vector<bool> gone) {
  gone.resize(rows_.size());
  size_t removed = 0;
  int favorites_removed = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (!gone[i]) continue;
    if (SavedRowChange* c = Record(SavedRowChange::Kind::kRemoved)) c->key = RowJournalKey(i);
    ++removed;
    favorites_removed += rows_[i].favorite ? 1 : 0;
  }
  if (removed == 0) return 0;
  // The kept rows' addresses and ports move into a fresh buffer, so that the
  // removed rows' bytes do not linger.
  std::string text;
  text.reserve(text_.size());
  size_t kept = 0;
  for (size_t i = 0; i < rows_.size(); ++i) {
    Slot s = rows_[i];
    if (gone[i]) {
      ReleaseTexts(s);
      FreeId(s.id);
      continue;
    }
    uint64_t at = text.size();
    text.append(text_, size_t(s.text), TextSizeOf(s));
    s.text = at;
    ids_[s.id].index = uint32_t(kept);
    rows_[kept++] = s;
  }
  rows_.resize(kept);
  selection_.EraseRows(gone);
  text.shrink_to_fit();
  text_ = std::move(text);
  if (rows_.empty()) {
    std::vector<Slot>().swap(rows_);
    texts_.Clear();
  } else {
    rows_.shrink_to_fit();
  }
  RebuildKeys(rows_.size());
  favorite_count_ -= favorites_removed;
  ++saved_version_;
  NotifyReset();
  if (favorites_removed != 0) NotifyFavorites();
  return removed;
}

uint8_t ProxyList::SourceIdOf(std::string_view url) {
  url = Trim(url);
  if (url.empty()) return 0;
  for (size_t i = 0; i < sources_.size(); ++i) {
    if (sources_[i] == url) return uint8_t(i + 1);
  }
  if (sources_.size() >= kMaxSources) return 0;
  sources_.emplace_back(url);
  return uint8_t(sources_.size());
}

std::string_view ProxyList::SourceUrl(uint8_t source) const {
  return source == 0 || source > sources_.size() ? std::string_view() : sources_[source - 1];
}

void ProxyList::SetRowSource(size_t index, uint8_t source) {
  if (index < rows_.size()) rows_[index].source = source;
}

std::optional<int64_t> ProxyList::RowExpiry(size_t index) const {
  if (index >= rows_.size() || expiry_.empty()) return std::nullopt;
  auto it = expiry_.find(rows_[index].id);
  return it == expiry_.end() ? std::nullopt : std::optional<int64_t>(it->second.at);
}

void ProxyList::SetRowExpiry(size_t index, std::optional<int64_t> unix) {
  if (index >= rows_.size()) return;
  bool was_expired = RowExpired(index);
  if (unix) {
    expiry_[rows_[index].id] = Expiry{*unix, false};
  } else {
    expiry_.erase(rows_[index].id);
  }
  // The provider handed the proxy out again: it is an unverified row once more.
  if (was_expired) SetVerifyResult(index, std::string(kStatusNotVerified), "", -1);
}

bool ProxyList::RowExpired(size_t index) const {
  if (index >= rows_.size() || expiry_.empty()) return false;
  auto it = expiry_.find(rows_[index].id);
  return it != expiry_.end() && it->second.expired;
}

size_t ProxyList::MarkExpiredRows(int64_t now_unix) {
  size_t marked = 0;
  for (auto& [entry, expiry] : expiry_) {
    if (expiry.expired || expiry.at > now_unix) continue;
    expiry.expired = true;
    uint32_t index = ids_[entry].index;
    if (index >= rows_.size()) continue;
    SetVerifyResult(index, std::string(kStatusExpired), "", 0);
    ++marked;
  }
  return marked;
}

void ProxyList::RemoveAll() {
  bool had_favorites = favorite_count_ != 0;
  for (const Slot& s : rows_) FreeId(s.id);
  std::vector<Slot>().swap(rows_);
  std::string().swap(text_);
  selection_.Clear();
  std::vector<uint32_t>().swap(key_table_);
  texts_.Clear();
  favorite_count_ = 0;
  ++saved_version_;
  changes_.overflow = true;  // a whole save of the empty list says it best
  std::vector<SavedRowChange>().swap(changes_.rows);
  NotifyReset();
  if (had_favorites) NotifyFavorites();
}

std::vector<SortKey> ProxyList::ColumnSortKeys(int column,
                                               std::vector<std::string>* converted) const {
  std::vector<SortKey> keys(rows_.size());
  if (column == kColAddress || column == kColPort) {
    // Texts of their own for each row: ranked where the text allows it (a
    // dotted address, a port's digits), compared as text otherwise.
    for (size_t i = 0; i < rows_.size(); ++i) {
      const Slot& s = rows_[i];
      SortKey& k = keys[i];
      if (column == kColPort) {
        k.text = PortOf(s);
        k.rank = uint64_t(LeadingDigitsValue(k.text));
        k.ranked = true;  // always digits, at most 65535 in value
        continue;
      }
      k.text = AddressOf(s);
      k.ranked = DottedAddressRank(k.text, &k.rank);
      if (!k.ranked && !IsAscii(k.text)) {
        converted->push_back(NaturalSortKey(k.text));
        k.text = {};  // set below, once `converted` no longer grows
      }
    }
    if (column == kColAddress && !converted->empty()) {
      size_t next = 0;
      for (SortKey& k : keys) {
        if (!k.ranked && k.text.empty()) k.text = (*converted)[next++];
      }
    }
    return keys;
  }
  // Shared texts: each distinct one is ranked once.
  std::vector<uint32_t> ids(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) {
    const Slot& s = rows_[i];
    ids[i] = column == kColType       ? s.type
             : column == kColStatus   ? s.status
             : column == kColLocation ? s.location
                                      : s.result;
  }
  std::vector<uint32_t> distinct = ids;
  std::sort(distinct.begin(), distinct.end());
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  std::vector<std::string> texts;
  texts.reserve(distinct.size());
  for (uint32_t id : distinct) {
    texts.push_back(NaturalSortKey(column == kColType ? kTypeNames[id] : texts_.Get(id)));
  }
  std::vector<uint64_t> ranks = NaturalRanks(texts);
  for (size_t i = 0; i < rows_.size(); ++i) {
    size_t at =
        size_t(std::lower_bound(distinct.begin(), distinct.end(), ids[i]) - distinct.begin());
    keys[i].rank = ranks[at];
    keys[i].ranked = true;
  }
  return keys;
}

void ProxyList::MoveRowToFront(size_t index) {
  if (index >= rows_.size()) return;
  std::rotate(rows_.begin(), rows_.begin() + ptrdiff_t(index),
              rows_.begin() + ptrdiff_t(index) + 1);
  selection_.MoveToFront(index);
  // The key table and the ids hold row indexes.
  RebuildKeys(rows_.size());
  ReindexIds();
  sort_state_.fill(0);
  NotifyReset();
}

void ProxyList::SortListColumn(int column, int flag) {
  if (column < 0 || column >= kColumnCount) return;
  std::vector<size_t> order;
  if (column == kColStatus) {
    std::vector<int32_t> scores;
    scores.reserve(rows_.size());
    for (const Slot& s : rows_) scores.push_back(s.score);
    order = ScoreSortOrder(scores, flag);
  } else {
    std::vector<std::string> converted;
    order = KeyedSortOrder(ColumnSortKeys(column, &converted), flag);
  }
  std::vector<Slot> sorted;
  sorted.reserve(rows_.size());
  for (size_t i : order) sorted.push_back(rows_[i]);
  rows_ = std::move(sorted);
  selection_.Permute(order);
  RebuildKeys(rows_.size());
  ReindexIds();
  sort_state_.fill(0);
  sort_state_[size_t(column)] = flag == 1 ? 1 : 2;
  ++saved_version_;
  changes_.reordered = true;
  NotifyReset();
}

std::string ProxyList::CaptionText(const RunCounters* running) const {
  std::string text(kListCaptionTitle);
  if (rows_.empty()) return text;
  if (running) {
    text += Format("(已验证:%d, 可用:%d, 未验证:%d)", running->done, running->usable,
                   running->remaining);
  } else {
    text += Format("(ip总数:%d, 常用ip:%d)", int(rows_.size()), favorite_count_);
  }
  return text;
}

ProxyList::Batch::Batch(ProxyList& list) : list_(list) {
  if (list_.batch_depth_++ == 0 && list_.locator_batch_) list_.locator_batch_(true);
}
ProxyList::Batch::~Batch() { list_.EndBatch(); }

void ProxyList::EndBatch() {
  if (--batch_depth_ > 0) return;
  if (locator_batch_) locator_batch_(false);
  bool reset = batch_reset_;
  bool favorites = batch_favorites_;
  bool selection = batch_selection_;
  size_t first = batch_append_first_;
  batch_reset_ = batch_favorites_ = batch_selection_ = false;
  batch_append_first_ = SIZE_MAX;
  if (!observer_) return;
  if (reset) {
    observer_->OnRowsReset();
  } else if (first != SIZE_MAX && first < rows_.size()) {
    observer_->OnRowsAppended(first, rows_.size() - first);
  }
  if (favorites) observer_->OnFavoritesChanged();
  if (selection) observer_->OnSelectionChanged();
}

void ProxyList::NotifyAppended(size_t first) {
  if (batch_depth_ > 0) {
    if (batch_append_first_ == SIZE_MAX) batch_append_first_ = first;
    return;
  }
  if (observer_) observer_->OnRowsAppended(first, 1);
}

void ProxyList::NotifyChanged(size_t index) {
  if (batch_depth_ > 0) {
    // A change to a row that was appended in this batch is covered by the append.
    if (batch_append_first_ == SIZE_MAX || index < batch_append_first_) batch_reset_ = true;
    return;
  }
  if (observer_) observer_->OnRowChanged(index);
}

void ProxyList::NotifyReset() {
  if (batch_depth_ > 0) {
    batch_reset_ = true;
    return;
  }
  if (observer_) observer_->OnRowsReset();
}

void ProxyList::NotifySelection() {
  if (batch_depth_ > 0) {
    batch_selection_ = true;
    return;
  }
  if (observer_) observer_->OnSelectionChanged();
}

void ProxyList::NotifyFavorites() {
  if (batch_depth_ > 0) {
    batch_favorites_ = true;
    return;
  }
  if (observer_) observer_->OnFavoritesChanged();
}

}  // namespace core
