#include "CWaveHarvesterDoc.h"

#include "CFileWaveIo.h"
#include "ErrorReporting.h"
#include "MessageBox.h"
#include "RecentFileList.h"
#include "ReplacingFileWriter.h"
#include "StringTable.h"

#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kTitleMarker = " *";

// Shows the framework's prompt for a file exception met while opening or saving.
void ReportLoadSaveException(const CFileException& exception, bool saving)
{
    ShowMessage(DocumentFileErrorText(exception, saving));
}

} // namespace

std::string FullPathOf(const std::string& path)
{
    if (path.empty())
        return path;
    std::string absolute = path;
    if (path[0] != '/') {
        char folder[4096];
        if (::getcwd(folder, sizeof folder) == nullptr)
            return path;
        absolute = std::string(folder) + "/" + path;
    }
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (start <= absolute.size()) {
        std::string::size_type slash = absolute.find('/', start);
        if (slash == std::string::npos)
            slash = absolute.size();
        std::string part = absolute.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string& part : parts)
        result += "/" + part;
    return result.empty() ? "/" : result;
}

CWaveHarvesterDoc::CWaveHarvesterDoc() = default;
CWaveHarvesterDoc::~CWaveHarvesterDoc() = default;

WaveIo& CWaveHarvesterDoc::CaptureFile() const
{
    CFile* file = m_captureFileSource ? m_captureFileSource() : nullptr;
    if (file == nullptr)
        throw CFileException(CFileException::fileNotFound, static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    m_captureIo = std::make_unique<CFileWaveIo>(*file);
    return *m_captureIo;
}

void CWaveHarvesterDoc::StopEngines()
{
    if (view != nullptr) {
        view->StopPlayback();
        view->StopRecording();
    }
}

BOOL CWaveHarvesterDoc::OnNewDocument()
{
    m_strPathName.clear();
    SetModifiedFlag(FALSE);
    fileSize = 44;
    dataOffset = 44;
    dataSize = 0;
    fileFormat = FormatRecord{};
    segments[0] = Segment{};
    segments[1] = Segment{};
    position = 0;
    return TRUE;
}

BOOL CWaveHarvesterDoc::OnOpenDocument(const std::string& pathName)
{
    StopEngines();
    formatValid = FALSE;
    formatUnsupported = FALSE;

    CFile file;
    CFileException openError;
    if (!file.Open(pathName, CFile::modeRead | CFile::shareDenyWrite, &openError)) {
        ReportLoadSaveException(openError, false);
        return FALSE;
    }
    // The framework counts the document dirty while it is read: a read that throws leaves a
    // document that the caller replaces by a new one.
    SetModifiedFlag(TRUE);
    try {
        if (file.GetLength() != 0) {
            WaveFileDescription description;
            description.fileSize = fileSize;
            description.dataOffset = dataOffset;
            description.dataSize = dataSize;
            description.fileFormat = fileFormat;
            CFileWaveIo io(file);
            ReadWaveFile(io, description);
            formatValid = description.formatValid;
            formatUnsupported = description.formatUnsupported;
            if (formatValid) {
                fileSize = description.fileSize;
                dataOffset = description.dataOffset;
                dataSize = description.dataSize;
                fileFormat = description.fileFormat;
            }
        }
    } catch (const CFileException& exception) {
        file.Abort();
        CFileException named = exception;
        if (named.m_strFileName.empty())
            named.m_strFileName = pathName;
        ReportLoadSaveException(named, false);
        return FALSE;
    }
    file.Abort();
    SetModifiedFlag(FALSE);

    if (!formatValid) {
        ShowMessage(FormatResourceString(formatUnsupported ? IDS_UNSUPPORTED_WAVE_FORMAT : IDS_INVALID_WAVE_FORMAT,
                                         pathName.c_str()));
        return FALSE;
    }
    position = 0;
    return TRUE;
}

BOOL CWaveHarvesterDoc::OnSaveDocument(const std::string& pathName)
{
    const BOOL wasModified = IsModified();
    StopEngines();
    try {
        ReplacingFileWriter target(pathName);
        WriteWaveFile(target, *this);
        target.Commit();
    } catch (const CFileException& exception) {
        CFileException named = exception;
        if (named.m_strFileName.empty())
            named.m_strFileName = pathName;
        ReportLoadSaveException(named, true);
        return FALSE;
    }
    SetModifiedFlag(FALSE);
    if (wasModified) {
        dataOffset = 44;
        dataSize = segments[0].size;
        fileSize = segments[0].size + 44;
        fileFormat = segments[0].format;
    }
    return TRUE;
}

void CWaveHarvesterDoc::SetPathName(const std::string& pathName, bool addToRecentFiles)
{
    m_strPathName = FullPathOf(pathName);
    if (addToRecentFiles && m_recentFiles != nullptr)
        m_recentFiles->Add(m_strPathName);
    m_strTitle = m_strPathName;
}

void CWaveHarvesterDoc::UpdateTitleMarker()
{
    const std::size_t markerLength = std::strlen(kTitleMarker);
    const bool marked = m_strTitle.size() >= markerLength &&
                        m_strTitle.compare(m_strTitle.size() - markerLength, markerLength, kTitleMarker) == 0;
    if (IsModified() && !marked)
        m_strTitle += kTitleMarker;
    else if (!IsModified() && marked)
        m_strTitle.erase(m_strTitle.size() - markerLength);
}
