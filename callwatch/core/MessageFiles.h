#pragma once
// Where recorded messages go and what they are called: "Messages" beside the program, one file
// per message named after the caller and the time ("NAME , NUMBER Mon, Jan 04, 1425 hours.wav").
#include <ctime>
#include <string>

// Caller texts longer than this are cut in file names, so that a name stays within the system's
// bound on file names.
constexpr size_t kMostCallerInFileName = 80;

// The file name of a message: caller-ID placeholders ("<blocked>") and empty texts leave their
// part out; characters that are not safe in a file name are replaced by '_'.
std::string MessageFileName(const std::string& name, const std::string& number, const struct tm& localTime);
// A name part made safe: '/', '\\', NUL and control characters become '_', and so does a leading
// '.', so that no caller ID can name a file outside the folder or a hidden one.
std::string SafeFileNamePart(const std::string& text);
// The path for the file in the folder that overwrites nothing: " (2)", " (3)" ... before ".wav"
// when the name is taken. Empty when no free name is found.
std::string FreeMessagePath(const std::string& folder, const std::string& fileName);
// "Messages" in the program's folder.
std::string DefaultMessagesFolder();
// Makes the folder when it is missing; false when it cannot be made.
bool EnsureFolder(const std::string& folder);
