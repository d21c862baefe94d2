#include "platform/Profile.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <list>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace pek {

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

std::string_view body(std::string_view line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

bool endsInLoneLeadByte(std::string_view s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (!IsDBCSLeadByte(static_cast<unsigned char>(s[i]))) continue;
        if (i + 1 == s.size()) return true;
        ++i;
    }
    return false;
}

// The form in which two names compare equal: ASCII letters lowered, never the trail byte of a
// double-byte character (those lie in the letter range too).
std::string foldName(std::string_view s)
{
    std::string out(s);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (IsDBCSLeadByte(c)) ++i;
        else if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 32);
    }
    return out;
}

bool sectionHeader(std::string_view line, std::string_view& name)
{
    line = trim(line);
    if (line.size() < 2 || line.front() != '[') return false;
    const size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = trim(line.substr(1, close - 1));
    return true;
}

bool keyLine(std::string_view line, std::string_view& key, std::string_view& value)
{
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';') return false;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return !key.empty();
}

using Lines = std::list<std::string>;  // each line keeps its own terminator ("\r\n", "\n" or none at the end)

struct Section {
    std::string header;  // the "[name]" line as it stands; empty for the lines before the first section
    Lines lines;
    std::unordered_map<std::string, std::vector<Lines::iterator>> keys;  // folded key -> its lines, in file order
};

// The parsed file: untouched lines keep their bytes, and every name is found without a scan.
struct Model {
    std::list<Section> sections;  // the front one holds the lines before the first header
    std::unordered_map<std::string, std::vector<std::list<Section>::iterator>> named;
    std::string newline = "\r\n";

    Model() { sections.emplace_back(); }
    Model(const Model&) = delete;  // the indexes point into the lists
    Model& operator=(const Model&) = delete;
    Model(Model&&) = default;
    Model& operator=(Model&&) = default;

    void indexKey(Section& section, Lines::iterator line)
    {
        std::string_view key, value;
        if (keyLine(body(*line), key, value)) section.keys[foldName(key)].push_back(line);
    }

    static Model parse(std::string_view bytes)
    {
        Model model;
        const size_t firstLf = bytes.find('\n');
        if (firstLf != std::string_view::npos && (firstLf == 0 || bytes[firstLf - 1] != '\r')) model.newline = "\n";
        size_t start = 0;
        while (start < bytes.size()) {
            const size_t lf = bytes.find('\n', start);
            const size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
            const std::string_view line = bytes.substr(start, end - start);
            start = end;
            std::string_view name;
            if (sectionHeader(body(line), name)) {
                model.sections.emplace_back();
                model.sections.back().header = line;
                model.named[foldName(name)].push_back(std::prev(model.sections.end()));
                continue;
            }
            Section& section = model.sections.back();
            section.lines.emplace_back(line);
            model.indexKey(section, std::prev(section.lines.end()));
        }
        return model;
    }

    std::string bytes() const
    {
        std::string out;
        for (const auto& section : sections) {
            out += section.header;
            for (const auto& line : section.lines) out += line;
        }
        return out;
    }

    Section* find(std::string_view section)
    {
        const auto it = named.find(foldName(section));
        return it == named.end() ? nullptr : &*it->second.front();
    }

    static const std::string* findKey(Section* section, std::string_view key)
    {
        if (section == nullptr) return nullptr;
        const auto it = section->keys.find(foldName(key));
        return it == section->keys.end() ? nullptr : &*it->second.front();
    }

    void endLine(std::string& line) const
    {
        if (line.empty() || line.back() != '\n') line += newline;
    }

    void write(std::string_view sectionName, std::string_view key, std::string_view value)
    {
        const std::string line = std::string(key) + "=" + std::string(value);
        Section* section = find(sectionName);
        if (section == nullptr) {
            Section& last = sections.back();
            if (!last.lines.empty()) endLine(last.lines.back());
            else if (!last.header.empty()) endLine(last.header);
            sections.emplace_back();
            sections.back().header = "[" + std::string(sectionName) + "]" + newline;
            named[foldName(sectionName)].push_back(std::prev(sections.end()));
            section = &sections.back();
            section->lines.push_back(line + newline);
            indexKey(*section, std::prev(section->lines.end()));
            return;
        }
        const auto copies = section->keys.find(foldName(key));
        if (copies != section->keys.end()) {
            std::string& old = *copies->second.front();
            old = line + old.substr(body(old).size());
            for (size_t n = 1; n < copies->second.size(); ++n) section->lines.erase(copies->second[n]);
            copies->second.resize(1);
            return;
        }
        // After the section's last non-blank line, so blank separators stay between sections.
        auto at = section->lines.end();
        while (at != section->lines.begin() && trim(body(*std::prev(at))).empty()) --at;
        endLine(at == section->lines.begin() ? section->header : *std::prev(at));
        indexKey(*section, section->lines.insert(at, line + newline));
    }

    void deleteKey(std::string_view sectionName, std::string_view key)
    {
        Section* section = find(sectionName);
        if (section == nullptr) return;
        const auto copies = section->keys.find(foldName(key));
        if (copies == section->keys.end()) return;
        for (const auto line : copies->second) section->lines.erase(line);
        section->keys.erase(copies);
    }

    void eraseSection(std::string_view sectionName)
    {
        const auto it = named.find(foldName(sectionName));
        if (it == named.end()) return;
        for (const auto section : it->second) sections.erase(section);
        named.erase(it);
    }
};

// What tells one version of the file from another without reading it.
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const Identity& o) const
    {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
    }
};

Identity identityOf(const struct stat& st)
{
    return Identity{true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

// nullopt when the file cannot be examined for a reason other than its absence.
std::optional<Identity> statFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return identityOf(st);
    if (errno == ENOENT || errno == ENOTDIR) return Identity{};
    return std::nullopt;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string reason(int error)
{
    return Utf8ToCp932(std::strerror(error));
}

Exception writeError(const std::string& path, int error)
{
    return Exception(Sjis("設定ファイルに書き込めません: ") + FileNameFromSystem(path) + " (" + reason(error) + ")");
}

struct Loaded {
    Model model;
    Identity identity;
    int error = 0;  // why an existing file could not be read
};

Loaded loadFile(const std::string& path)
{
    Loaded loaded;
    const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno != ENOENT && errno != ENOTDIR) loaded.error = errno;
        return loaded;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        loaded.error = errno;
        return loaded;
    }
    std::string bytes;
    bytes.reserve(size_t(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            loaded.error = errno;
            return loaded;
        }
        bytes.append(buffer, size_t(n));
    }
    loaded.model = Model::parse(bytes);
    loaded.identity = identityOf(st);
    return loaded;
}

// The file a write lands in: a symbolic link is followed so the link itself stays.
std::filesystem::path writeTarget(const std::string& path)
{
    namespace fs = std::filesystem;
    fs::path p = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(p, error))) return p;
        const fs::path target = fs::read_symlink(p, error);
        if (error) throw writeError(path, error.value());
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    throw writeError(path, ELOOP);
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

// Write beside the target and rename over it, so a crash mid-write never leaves half a settings file;
// the data reaches the disk before the rename makes it the file.
Identity saveFile(const std::string& path, std::string_view bytes)
{
    const std::filesystem::path target = writeTarget(path);
    const std::string targetName = target.string();
    struct stat old {};
    const bool existed = ::stat(targetName.c_str(), &old) == 0;

    std::string temp;
    std::optional<Fd> fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        temp = targetName + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        const int opened = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (opened >= 0) fd.emplace(opened);
        else if (errno != EEXIST) throw writeError(path, errno);
    }
    if (!fd) throw writeError(path, EEXIST);
    const auto fail = [&](int error) {
        ::unlink(temp.c_str());
        return writeError(path, error);
    };
    if (existed) {
        // Owner change succeeds only where it is allowed (the same owner, or root); the mode always.
        if (::fchown(fd->get(), old.st_uid, old.st_gid) != 0) {}
        if (::fchmod(fd->get(), old.st_mode & 07777) != 0) throw fail(errno);
    }
    if (!writeAll(fd->get(), bytes) || ::fsync(fd->get()) != 0) throw fail(errno);
    if (::close(fd->release()) != 0) throw fail(errno);
    if (::rename(temp.c_str(), targetName.c_str()) != 0) throw fail(errno);
    const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
    const Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return statFile(path).value_or(Identity{});
}

void checkNames(std::string_view section, std::string_view key, std::string_view value)
{
    // A line break would end the line early and let the rest read as keys or sections of its own.
    const auto hasBreak = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
    if (hasBreak(section) || hasBreak(key) || hasBreak(value))
        throw Exception(Sjis("設定ファイルに改行を含む値は書き込めません: ") + std::string(key));
    // Names the reader would cut, trim or take for something else: each write would add a line.
    const auto readsBack = [](std::string_view name) {
        return trim(name).size() == name.size() && !endsInLoneLeadByte(name);
    };
    if (!readsBack(section) || section.find(']') != std::string_view::npos)
        throw Exception(Sjis("設定ファイルに書き込めないセクション名です: ") + std::string(section));
    if (key.empty() || !readsBack(key) || key.find('=') != std::string_view::npos || key.front() == ';' ||
        key.front() == '[')
        throw Exception(Sjis("設定ファイルに書き込めないキー名です: ") + std::string(key));
}

bool parseInteger(std::string_view s, int& out)
{
    s = trim(s);
    if (s.empty()) return false;
    bool negative = false;
    if (s.front() == '-' || s.front() == '+') {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    int base = 10;
    if (!s.empty() && s.front() == '$') {
        base = 16;
        s.remove_prefix(1);
    } else if (s.size() > 1 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    long long value = 0;
    for (const char c : s) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;
        value = value * base + digit;
        // Hexadecimal may spell the full 32-bit pattern (colours are written so).
        if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
    }
    if (base == 16) value = static_cast<int32_t>(static_cast<uint32_t>(value));
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return false;
    out = static_cast<int>(value);
    return true;
}

struct Change {
    enum Kind { Write, Delete, Erase } kind;
    std::string section, key, value;
};

void apply(Model& model, const Change& change)
{
    switch (change.kind) {
    case Change::Write: model.write(change.section, change.key, change.value); break;
    case Change::Delete: model.deleteKey(change.section, change.key); break;
    case Change::Erase: model.eraseSection(change.section); break;
    }
}

}  // namespace

struct ProfileFile::State {
    std::mutex mutex;
    bool cached = false;
    Model model;
    Identity identity;
    int readError = 0;
    // Open batches: the changes made since the outermost one opened, and where each inner one began.
    std::vector<Change> pending;
    std::vector<size_t> batchStarts;

    void reload(const std::string& path)
    {
        Loaded loaded = loadFile(path);
        model = std::move(loaded.model);
        identity = loaded.identity;
        readError = loaded.error;
        cached = true;
    }

    // The text reads see: the pending changes while a batch is open, else the file as it is now.
    Model& current(const std::string& path)
    {
        if (!batchStarts.empty() && cached) return model;
        const std::optional<Identity> now = statFile(path);
        if (!cached || !now || !(*now == identity)) reload(path);
        return model;
    }

    void change(const std::string& path, Change c)
    {
        if (c.kind == Change::Write) checkNames(c.section, c.key, c.value);
        Model& m = current(path);
        if (readError != 0)
            throw Exception(Sjis("設定ファイルを読めません: ") + FileNameFromSystem(path) + " (" + reason(readError) + ")");
        apply(m, c);
        if (!batchStarts.empty()) {
            pending.push_back(std::move(c));
            return;
        }
        save(path);
    }

    void save(const std::string& path)
    {
        try {
            identity = saveFile(path, model.bytes());
        } catch (...) {
            cached = false;  // the kept text no longer matches the disk
            throw;
        }
    }

    // The file as it is on disk with the pending changes applied again.
    void replay(const std::string& path)
    {
        reload(path);
        for (const auto& c : pending) apply(model, c);
    }
};

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)), state_(std::make_unique<State>()) {}

ProfileFile::ProfileFile(const ProfileFile& other) : ProfileFile(other.path_) {}

ProfileFile::~ProfileFile() = default;

std::string ProfileFile::ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const
{
    const std::lock_guard lock(state_->mutex);
    Model& model = state_->current(path_);
    const std::string* line = Model::findKey(model.find(section), key);
    if (line == nullptr) return std::string(defaultValue);
    std::string_view k, v;
    keyLine(body(*line), k, v);
    return std::string(v);
}

int ProfileFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const
{
    int value = 0;
    return parseInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    const std::lock_guard lock(state_->mutex);
    state_->change(path_, Change{Change::Write, std::string(section), std::string(key), std::string(value)});
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

std::vector<std::string> ProfileFile::ReadSections() const
{
    const std::lock_guard lock(state_->mutex);
    Model& model = state_->current(path_);
    std::vector<std::string> names;
    for (auto it = std::next(model.sections.begin()); it != model.sections.end(); ++it) {
        std::string_view name;
        sectionHeader(body(it->header), name);
        if (&*model.named.at(foldName(name)).front() == &*it) names.emplace_back(name);
    }
    return names;
}

std::vector<std::string> ProfileFile::ReadSectionKeys(std::string_view section) const
{
    const std::lock_guard lock(state_->mutex);
    Model& model = state_->current(path_);
    std::vector<std::string> keys;
    Section* found = model.find(section);
    if (found == nullptr) return keys;
    for (auto line = found->lines.begin(); line != found->lines.end(); ++line) {
        std::string_view k, v;
        if (keyLine(body(*line), k, v) && &*found->keys.at(foldName(k)).front() == &*line) keys.emplace_back(k);
    }
    return keys;
}

bool ProfileFile::SectionExists(std::string_view section) const
{
    const std::lock_guard lock(state_->mutex);
    return state_->current(path_).find(section) != nullptr;
}

bool ProfileFile::ValueExists(std::string_view section, std::string_view key) const
{
    const std::lock_guard lock(state_->mutex);
    Model& model = state_->current(path_);
    return Model::findKey(model.find(section), key) != nullptr;
}

void ProfileFile::EraseSection(std::string_view section)
{
    const std::lock_guard lock(state_->mutex);
    Model& model = state_->current(path_);
    if (model.find(section) == nullptr) return;
    state_->change(path_, Change{Change::Erase, std::string(section), {}, {}});
}

void ProfileFile::DeleteKey(std::string_view section, std::string_view key)
{
    const std::lock_guard lock(state_->mutex);
    Model& model = state_->current(path_);
    if (Model::findKey(model.find(section), key) == nullptr) return;
    state_->change(path_, Change{Change::Delete, std::string(section), std::string(key), {}});
}

ProfileBatch::ProfileBatch(ProfileFile& ini) : ini_(ini)
{
    auto& state = *ini_.state_;
    const std::lock_guard lock(state.mutex);
    state.current(ini_.path_);
    state.batchStarts.push_back(state.pending.size());
}

ProfileBatch::~ProfileBatch()
{
    if (!open_) return;
    auto& state = *ini_.state_;
    const std::lock_guard lock(state.mutex);
    state.pending.resize(state.batchStarts.back());
    state.batchStarts.pop_back();
    if (state.batchStarts.empty()) state.cached = false;
    else state.replay(ini_.path_);
}

void ProfileBatch::Commit()
{
    if (!open_) return;
    auto& state = *ini_.state_;
    const std::lock_guard lock(state.mutex);
    if (state.batchStarts.size() == 1 && !state.pending.empty()) {
        // Another program may have changed the file since the batch began: apply ours to its text.
        const std::optional<Identity> now = statFile(ini_.path_);
        if (!now || !(*now == state.identity)) state.replay(ini_.path_);
        if (state.readError != 0)
            throw Exception(Sjis("設定ファイルを読めません: ") + FileNameFromSystem(ini_.path_) + " (" +
                            reason(state.readError) + ")");
        state.identity = saveFile(ini_.path_, state.model.bytes());
        state.pending.clear();
    }
    state.batchStarts.pop_back();
    open_ = false;
}

std::string ToCommaText(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t n = 0; n < items.size(); ++n) {
        if (n > 0) text += ',';
        const std::string& item = items[n];
        bool quote = item.empty();
        for (const char c : item) quote = quote || static_cast<unsigned char>(c) <= ' ' || c == '"' || c == ',';
        if (!quote) {
            text += item;
            continue;
        }
        text += '"';
        for (const char c : item) {
            if (c == '"') text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

std::vector<std::string> FromCommaText(std::string_view text)
{
    std::vector<std::string> items;
    size_t p = 0;
    const auto blank = [&](size_t i) { return i < text.size() && static_cast<unsigned char>(text[i]) <= ' '; };
    while (blank(p)) ++p;
    while (p < text.size()) {
        std::string item;
        if (text[p] == '"') {
            ++p;
            while (p < text.size()) {
                if (text[p] == '"') {
                    if (p + 1 < text.size() && text[p + 1] == '"') {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            while (p < text.size() && !blank(p) && text[p] != ',') item += text[p++];
        }
        items.push_back(std::move(item));
        while (blank(p)) ++p;
        if (p < text.size() && text[p] == ',') {
            ++p;
            if (p == text.size()) items.emplace_back();
            while (blank(p)) ++p;
        }
    }
    return items;
}

}  // namespace pek
