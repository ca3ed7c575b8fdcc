// SettingsStore: the per-user store of the two settings that outlive a run, the RTS
// choice of the port settings ("RTSControl") and the parser program's path of the ADB to
// SDB conversion ("FileName"). A QSettings INI file laid out by the key paths
//   Software\ZVQ\Tavrin\TVR-STB-001\Version1.1.0c           RTSControl
//   Software\ZVQ\Tavrin\TVR-STB-001\Version1.1.0c\ADBtoSDB  FileName
// (project id and version from the product identity, so each release keeps settings of
// its own), with the values' exact bytes as the file's text: RTSControl is the single
// byte "0" or "1".
//
// The settings are meant to last only for the user's session, so the file lives under
// $XDG_RUNTIME_DIR (emptied at log-out) when that is set, else in the user's
// configuration directory. "The key cannot be opened" means the file cannot be read or
// written: an unreadable or malformed file, or a folder where it cannot be created.
//
// Every call opens the file, does its step and closes it again, so a change made by
// another instance is seen. UI thread only.
#pragma once

#include <QString>
#include <optional>

#include "serial/port_settings.h"

namespace tavrin::app {

// Value names and the data of RTSControl.
inline constexpr const char* kRtsControlValue = "RTSControl";
inline constexpr const char* kParserFileNameValue = "FileName";
inline constexpr const char* kRtsOffData = "0";
inline constexpr const char* kRtsOnData = "1";
// A value longer than this many bytes cannot be read (the reader's buffer size).
inline constexpr qsizetype kRtsControlReadLimit = 10;
// "FileName" holds at most this many characters.
inline constexpr qsizetype kParserPathMaxLength = 259;

// "Software\ZVQ\Tavrin\TVR-STB-001\Version1.1.0c" and its "\ADBtoSDB" child.
QString SettingsKeyPath();
QString ParserSettingsKeyPath();

class SettingsStore {
 public:
  // The store at DefaultFilePath().
  SettingsStore();
  // The store in `filePath` (tests use a temporary file).
  explicit SettingsStore(QString filePath);

  // $XDG_RUNTIME_DIR/ZVQ/Tavrin.ini when XDG_RUNTIME_DIR is set, else the same name in
  // the user's configuration directory.
  static QString DefaultFilePath();
  const QString& FilePath() const { return filePath_; }

  // Start-up: makes sure the store can hold both keys, then takes RTS control from
  // RTSControl: exactly "0" gives 0, any other data 1. A missing value, or one longer
  // than 10 bytes, is written as "0" and RTS control stays 0. When the store cannot be
  // opened, RTS control keeps its value and nothing is reported.
  void LoadSettings(serial::PortSettings& settings);

  // Port Settings OK: writes RTSControl as "1" or "0". False when the store cannot be
  // opened (nothing is written then).
  bool StoreRtsControl(bool rtsOn);

  // The parser program's path; nullopt when the store cannot be opened or holds none.
  std::optional<QString> ReadParserPath();
  // Writes the parser program's path (at most 259 characters are kept); false when the
  // store cannot be opened.
  bool WriteParserPath(const QString& path);

 private:
  bool CanOpen() const;
  bool WriteValue(const QString& key, const QString& data);

  QString filePath_;
};

}  // namespace tavrin::app
