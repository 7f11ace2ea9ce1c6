#pragma once
// Where recorded messages go and what they are called: "Messages" beside the program, or, where
// that cannot be written (an installed program), $XDG_DATA_HOME/Callwatch/Messages; one file per
// message named after the caller and the time ("NAME , NUMBER Mon, Jan 04, 1425 hours.wav").
#include <ctime>
#include <string>
#include <vector>

// Caller texts longer than this are cut in file names, so that a name stays within the system's
// bound on file names.
constexpr size_t kMostCallerInFileName = 80;

// The file name of a message: caller-ID placeholders ("<blocked>") and empty texts leave their
// part out; characters that are not safe in a file name are replaced by '_'. Never starts with
// '-' or '.', and is valid UTF-8.
std::string MessageFileName(const std::string& name, const std::string& number, const struct tm& localTime);
// A name part made safe to use in a shell and to show: '/', '\\', NUL, control characters (C0,
// DEL and C1) and every byte that is not part of valid UTF-8 become '_', and so does a leading
// '.' or '-', so that no caller ID can name a file outside the folder, a hidden one or one that a
// command takes for an option. Cut to kMostCallerInFileName bytes on a character boundary.
std::string SafeFileNamePart(const std::string& text);
// The path for the file in the folder that overwrites nothing: " (2)", " (3)" ... before ".wav"
// when the name is taken. Empty when no free name is found.
std::string FreeMessagePath(const std::string& folder, const std::string& fileName);
// "Messages" in the program's folder.
std::string DefaultMessagesFolder();
// $XDG_DATA_HOME/Callwatch/Messages, $XDG_DATA_HOME defaulting to ~/.local/share; empty when
// neither it nor a home folder is known.
std::string UserMessagesFolder();
// Makes the folder when it is missing; false when it cannot be made.
bool EnsureFolder(const std::string& folder);
// Makes the folder and its missing parents, and checks that a file can be made in it.
bool WritableFolder(const std::string& folder);
// The folder messages go to, checked at start: the given one (--messages) alone, else the one
// beside the program, else the user's. Empty when none can be written; tried lists each one
// tried, in order.
std::string ChooseMessagesFolder(const std::string& given, std::vector<std::string>* tried);
