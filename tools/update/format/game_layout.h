// The game's fixed names and paths, and the rules that follow from them: where
// the installed version is recorded, where the game's launcher lives, which
// entries are game packages. Every program and tool takes them from here.
#pragma once

#include <cstddef>
#include <string>

// The updater's path buffers: 260 bytes, the terminator included.
constexpr size_t UPDATE_PATH_SIZE = 260;

// The game's configuration, below the game directory, written with forward
// slashes as the game's own tools write them (the file system takes both).
constexpr char GAME_CONFIG_DIR[] = "Config";
constexpr char GAME_CLIENT_INI[] = "Client.ini";
constexpr char GAME_CLIENT_INI_PATH[] = "/Config/Client.ini";
constexpr char GAME_CONFIG_INI_PATH[] = "/Config/config.ini";
// The installed version and the fingerprint of the updater that brought it.
constexpr char VERSION_SECTION[] = "Version";
constexpr char VERSION_KEY[] = "GameVersion";
constexpr char UPDATER_MD5_KEY[] = "MD5";

// The game's launcher, which unpacks packages, and what the updater hands
// it: a copy of it in the temporary directory, and the dialog's window in
// "launch.txt" beside it.
constexpr char GAME_LAUNCHER_DIR[] = "launch";
constexpr char GAME_LAUNCHER_NAME[] = "launch.exe";
constexpr char GAME_LAUNCHER_PATH[] = "/launch/launch.exe";
constexpr char LAUNCHER_TEXT_NAME[] = "launch.txt";

// The name one updater at a time holds: the single-instance mutex, and the
// run's folder in the temporary directory.
constexpr char UPDATER_INSTANCE_NAME[] = "TPK_MVR_J_UPDATE";

// Whether the updater hands an entry of this extraction name to the game's
// launcher as a package: a name ending in ".tpk", letters in any case.
bool IsPackageName(const std::string& extractName);
