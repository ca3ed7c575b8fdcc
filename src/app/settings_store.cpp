#include "app/settings_store.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include "core/product_identity.h"

namespace tavrin::app {
namespace {

constexpr const char* kKeyPathPrefix = "Software\\ZVQ\\Tavrin\\";
constexpr const char* kParserKeyName = "ADBtoSDB";
constexpr const char* kStoreFolder = "ZVQ";
constexpr const char* kStoreFileName = "Tavrin.ini";

// QSettings separates the levels of a key with '/' (a backslash would be part of one
// name); in the INI file the first level is the section and the rest are joined by
// backslashes again, so the file reads like the key path.
QString ValueKey(const QString& keyPath, const char* valueName) {
  QString key = keyPath;
  key.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return key + QLatin1Char('/') + QLatin1String(valueName);
}

// The bytes a value holds as text, or nullopt for a value that is not text (a number
// written by another program, for instance), which is never the text "0". A text with
// unquoted commas reads back as a list; its bytes are the list joined again.
std::optional<QByteArray> ValueBytes(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QString:
      return value.toString().toUtf8();
    case QMetaType::QByteArray:
      return value.toByteArray();
    case QMetaType::QStringList:
      return value.toStringList().join(QLatin1Char(',')).toUtf8();
    default:
      return std::nullopt;
  }
}

}  // namespace

QString SettingsKeyPath() {
  return QLatin1String(kKeyPathPrefix) + QLatin1String(core::kProductIdentity.projectId) +
         QLatin1Char('\\') + QString::fromStdString(core::VersionText());
}

QString ParserSettingsKeyPath() {
  return SettingsKeyPath() + QLatin1Char('\\') + QLatin1String(kParserKeyName);
}

SettingsStore::SettingsStore() : SettingsStore(DefaultFilePath()) {}

SettingsStore::SettingsStore(QString filePath) : filePath_(std::move(filePath)) {}

QString SettingsStore::DefaultFilePath() {
  QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (base.isEmpty()) {
    base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
  }
  return base + QLatin1Char('/') + QLatin1String(kStoreFolder) + QLatin1Char('/') +
         QLatin1String(kStoreFileName);
}

// The store can be opened when its folder exists (or can be made) and the file, if it
// is there, is a readable, well-formed settings file. Making the folder stands in for
// creating the keys' missing levels.
bool SettingsStore::CanOpen() const {
  const QFileInfo file(filePath_);
  if (!QDir().mkpath(file.absolutePath())) return false;
  if (file.exists() && (!file.isFile() || !file.isReadable())) return false;
  const QSettings settings(filePath_, QSettings::IniFormat);
  return settings.status() == QSettings::NoError;
}

bool SettingsStore::WriteValue(const QString& key, const QString& data) {
  if (!CanOpen()) return false;
  QSettings settings(filePath_, QSettings::IniFormat);
  settings.setValue(key, data);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

void SettingsStore::LoadSettings(serial::PortSettings& settings) {
  if (!CanOpen()) return;
  std::optional<QByteArray> data;
  {
    const QSettings store(filePath_, QSettings::IniFormat);
    const QVariant value = store.value(ValueKey(SettingsKeyPath(), kRtsControlValue));
    if (value.isValid()) data = ValueBytes(value);
    if (value.isValid() && !data) {
      settings.rtsControl = 1;  // data that is not the text "0"
      return;
    }
  }
  if (!data || data->size() > kRtsControlReadLimit) {
    WriteValue(ValueKey(SettingsKeyPath(), kRtsControlValue), QLatin1String(kRtsOffData));
    return;
  }
  settings.rtsControl = (*data == kRtsOffData) ? 0 : 1;
}

bool SettingsStore::StoreRtsControl(bool rtsOn) {
  return WriteValue(ValueKey(SettingsKeyPath(), kRtsControlValue),
                    QLatin1String(rtsOn ? kRtsOnData : kRtsOffData));
}

std::optional<QString> SettingsStore::ReadParserPath() {
  if (!CanOpen()) return std::nullopt;
  const QSettings store(filePath_, QSettings::IniFormat);
  const QVariant value = store.value(ValueKey(ParserSettingsKeyPath(), kParserFileNameValue));
  const std::optional<QByteArray> data = ValueBytes(value);
  if (!data) return std::nullopt;
  return QString::fromUtf8(*data).left(kParserPathMaxLength);
}

bool SettingsStore::WriteParserPath(const QString& path) {
  return WriteValue(ValueKey(ParserSettingsKeyPath(), kParserFileNameValue),
                    path.left(kParserPathMaxLength));
}

}  // namespace tavrin::app
