#pragma once
// Replacing a file so that a crash, a full disk or a failed write never leaves
// it half written: the new contents go to a temporary file in the same folder,
// are flushed to disk and only then renamed over the old file.

#include <cstdio>
#include <filesystem>
#include <string_view>

class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    // Leaves the target untouched and removes the temporary file unless committed.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file beside `target`; false when the folder is
    // missing or not writable. A pending file of an earlier Open is discarded.
    bool Open(const std::filesystem::path& target);
    bool IsOpen() const { return file_ != nullptr; }
    // Appends bytes to the temporary file; false once any write has failed.
    bool Write(std::string_view data);
    // Flushes and syncs the temporary file and renames it over the target.
    // False (target untouched, temporary removed) when any step failed.
    // Without `sync` nothing waits for the disk: a reader never sees a half
    // written file, but after a system crash the file may be empty or cut.
    bool Commit(bool sync = true);
    // Drops the temporary file; the target stays as it was.
    void Abandon();

private:
    std::FILE* file_ = nullptr;
    std::filesystem::path target_;
    std::filesystem::path temp_;
    bool failed_ = false;
};

// The whole file replaced by `data` as above; false on any failure.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view data);
// The same without waiting for the disk (Commit(false)): for a file that no
// later run relies on, or whose caller calls SyncFileAndFolder before it does.
bool WriteFileAtomicallyUnsynced(const std::filesystem::path& target, std::string_view data);
// Waits until the file's contents and its entry in its folder are on disk;
// false when either could not be synced.
bool SyncFileAndFolder(const std::filesystem::path& file);

// The whole file, or false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& path, std::string* data);
