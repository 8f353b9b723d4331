// The failure texts of the storage layer, in one place. Callers and the trader
// see them byte for byte, so they never change.
#ifndef QB_STORAGE_STORAGE_TEXTS_H
#define QB_STORAGE_STORAGE_TEXTS_H

namespace qbsync::storage_text {

// Durable record files.
inline constexpr char kOpenTemporary[] = "Cannot open outbox temporary file.";
inline constexpr char kPublishRename[] = "Cannot publish outbox record; the temporary file was retained.";
inline constexpr char kWriteFailed[] = "Outbox write failed; no fill cursor was advanced.";
inline constexpr char kFlushFailed[] = "Outbox flush failed; no fill cursor was advanced.";
inline constexpr char kReadOpen[] = "Cannot read outbox metadata.";
inline constexpr char kReadSize[] = "Invalid outbox metadata size.";
inline constexpr char kReadIncomplete[] = "Incomplete outbox metadata read.";
inline constexpr char kPathUnavailable[] = "JOURNAL_PATH_UNAVAILABLE";
inline constexpr char kFileLimit[] = "JOURNAL_FILE_LIMIT";
inline constexpr char kImmutableConflict[] = "IMMUTABLE_FILE_CONFLICT";
inline constexpr char kCommitFailed[] = "JOURNAL_COMMIT_FAILED";
inline constexpr char kJournalWriteFailed[] = "JOURNAL_WRITE_FAILED";
inline constexpr char kScanStart[] = "Cannot enumerate outbox directory.";
inline constexpr char kScanFailed[] = "Outbox directory scan failed.";
inline constexpr char kListFailed[] = "Cannot enumerate pending capture files.";

// Data folder.
inline constexpr char kDataInvalidCharacter[] = "Sierra's data folder contains an invalid character.";
inline constexpr char kDataUndecodable[] = "Sierra's data folder is empty or cannot be decoded.";
inline constexpr char kDataCopyFailed[] = "Cannot decode Sierra's data folder.";
inline constexpr char kDataNotAbsolute[] = "Sierra's data folder must be an absolute folder on a fixed local drive.";
inline constexpr char kDataNotFixed[] = "Quorbelle sync requires Sierra's data folder on a fixed local drive.";
inline constexpr char kDataUnavailable[] = "Sierra's data folder is unavailable or is a junction or symbolic link.";
inline constexpr char kDataNoShortPath[] =
    "Sierra's data folder has no usable short Windows path. Use a shorter ASCII Sierra data-folder path; "
    "sync data has not been relocated.";
inline constexpr char kDataShortUnusable[] =
    "Sierra's data-folder path is too long or contains Unicode without a usable short alias. Use a shorter "
    "ASCII Sierra data-folder path; sync data has not been relocated.";
inline constexpr char kDataShortUnverified[] = "Cannot verify Sierra's short data-folder path.";
inline constexpr char kDataShortDifferent[] =
    "Sierra's short data-folder path refers to a different directory; sync is paused.";

// Outbox root and directories.
inline constexpr char kOutboxNotAscii[] = "Use an ASCII outbox path; account names and notes may contain Unicode.";
inline constexpr char kOutboxNotAbsolute[] =
    "Set an absolute local drive outbox path, for example C:\\SierraChart\\Data\\QuorbelleOutbox.";
inline constexpr char kOutboxDotDot[] = "Outbox path cannot contain '..'.";
inline constexpr char kOutboxTooLong[] =
    "Outbox root exceeds 93 characters, leaving insufficient space for durable sync filenames.";
inline constexpr char kOutboxNotFixed[] = "Outbox must be on a fixed local drive.";
inline constexpr char kDirectoryCreate[] = "Cannot create outbox directory. Check the configured path and permissions.";
inline constexpr char kDirectoryNotReal[] = "Outbox must be a regular local directory, not a junction or symlink.";

}  // namespace qbsync::storage_text

#endif
