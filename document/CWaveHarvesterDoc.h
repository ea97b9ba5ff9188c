// The program's one document: either a wave file that was opened (or last saved), or a
// recording not saved yet, in the temporary capture file. It keeps where the samples are, how
// many there are and in which format, and the play or record position; the samples stay in
// their files. "Modified" means exactly: it holds a recording with sound that is not saved.
#pragma once

#include "CFile.h"
#include "DocumentView.h"
#include "FormatRecord.h"
#include "Segment.h"
#include "WaveFile.h"

#include <functional>
#include <memory>
#include <string>

class RecentFileList;

class CWaveHarvesterDoc : public WaveDocumentSource {
public:
    CWaveHarvesterDoc();
    ~CWaveHarvesterDoc() override;

    // The temporary capture file that recordings are in (null while there is none).
    void SetCaptureFileSource(std::function<CFile*()> source) { m_captureFileSource = std::move(source); }
    // The list that SetPathName adds to; may be null.
    void SetRecentFileList(RecentFileList* list) { m_recentFiles = list; }

    // The framework's document state.
    const std::string& GetTitle() const { return m_strTitle; }
    void SetTitle(const std::string& title) { m_strTitle = title; }
    std::string GetPathName() const override { return m_strPathName; }
    BOOL IsModified() const override { return m_bModified; }
    void SetModifiedFlag(BOOL modified = TRUE) { m_bModified = modified; }

    // New: clears the path and the flag, then describes no sound (44-byte file, no data).
    BOOL OnNewDocument();
    // Open: stops the view's engines, reads the file; messages 61204/61205 for a file that is
    // not a PCM wave file. False leaves the file fields as they were.
    BOOL OnOpenDocument(const std::string& pathName);
    // Save: stops the view's engines, writes the file so that it replaces the target only when
    // complete; a saved recording then describes the new file.
    BOOL OnSaveDocument(const std::string& pathName);
    // Stores the full path, adds it to the recent-file list when asked; the title is the path.
    void SetPathName(const std::string& pathName, bool addToRecentFiles = true);
    // " *" at the end of the title exactly while modified.
    void UpdateTitleMarker();

    // The sound the rest of the program sees: segment 0 when modified, the file otherwise.
    const FormatRecord& SourceFormat() const { return m_bModified ? segments[0].format : fileFormat; }
    DWORD SourceSize() const { return m_bModified ? segments[0].size : dataSize; }
    DWORD SourceStart() const { return m_bModified ? segments[0].start : dataOffset; }
    DWORD SourceFullSize() const { return m_bModified ? segments[0].size + 44 : fileSize; }

    // WaveDocumentSource
    const Segment& FirstSegment() const override { return segments[0]; }
    WaveIo& CaptureFile() const override;

    DocumentView* view = nullptr;
    DWORD fileSize = 44;
    DWORD dataOffset = 44;
    DWORD dataSize = 0;
    FormatRecord fileFormat{};
    Segment segments[2]{};
    DWORD position = 0;
    BOOL formatValid = FALSE;
    BOOL formatUnsupported = FALSE;

private:
    void StopEngines();

    std::string m_strTitle;
    std::string m_strPathName;
    BOOL m_bModified = FALSE;
    std::function<CFile*()> m_captureFileSource;
    RecentFileList* m_recentFiles = nullptr;
    mutable std::unique_ptr<WaveIo> m_captureIo;
};

// The full form of a path (relative to the current directory, "." and ".." resolved).
std::string FullPathOf(const std::string& path);
