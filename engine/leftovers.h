// Crash safety around the download pass: temporary files that a run cut
// off (kill -9, power loss) left behind are removed by the next run, and
// what a run wrote reaches the disk before the run reports it done.
// Called by the engine's worker only.
#pragma once

#include <set>
#include <string>
#include <vector>

// True for the names of our temporary files: downloads and copies
// (".name.tidewell-part…"), in-place gzip decoding ("name.gztmp…") and zip
// members (".unzip-….part").
bool IsLeftoverTempName(const std::string& strName);

// Removes leftover temporary files in the folder tree strRoot (symbolic
// links are not followed) and directly in each folder of setFolders, but
// not those named in setKeep (parts of downloads still to be resumed).
// Returns how many were removed.
int RemoveLeftoverTempFiles(const std::string& strRoot, const std::set<std::string>& setFolders,
                            const std::set<std::string>& setKeep = {});

// Flushes the file systems that hold the given paths to the disk, each once.
// False when a flush failed.
bool SyncFileSystemsOf(const std::vector<std::string>& vecPaths);
