// The network and link settings in "/data/configs/tcpip.ini" (group "config", 18 keys), the
// device id from the SoC's identification words, and the start-up program check of
// "/data/configs/led_load_config.ini".
#pragma once

#include <QMap>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

// One INI setting.
class ConfigItem {
public:
    enum ConfigName {
        TcpPort = 0,
        UdpPort,
        IPAddress,
        SubNetMask,
        GateWay,
        MAC,
        Barcode,
        WifiIPAddress,
        EDIDCheck,
        SourceCheck,
        ImageLayoutPassword,
        Wenxcloudserverip,
        Wenxcloudserverport,
        Wenxclouduserip,
        Wenxcloudcontrollername,
        ZemMaxPixel_UINT,
        usbupgradedir,
        ZemLCDLang,
        ItemCount
    };

    // Enters key -> id in _itemMap; the value stored under key wins, else the default becomes
    // the value and is stored in settings. Without settings (the file is not the box's own) the
    // default is the value, and the item is memory-only.
    ConfigItem(const QString& key, ConfigName id, const QVariant& def, uint8_t numeric,
               const QString& fileName, QSettings* settings);

    QString key;  // "config/" + name
    ConfigName id;
    QVariant defaultValue;
    bool memoryOnly;   // writes change only the value in memory
    uint8_t numeric;   // 1: the value is a number
    QString fileName;  // program path of the INI file
    QVariant value;    // current value
};

// Every configuration key ("config/TcpPort") and its id.
extern QMap<QString, int> _itemMap;

class ConfigEngine : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kIniFile = "/data/configs/tcpip.ini";
    static constexpr const char* kLoadConfigFile = "/data/configs/led_load_config.ini";
    static constexpr const char* kStandardAppPath = "/data/app/zemT57N -platform linuxfb";

    // First call: builds the engine, the device id, the globals and the start-up program
    // check. Later calls reload the globals, redo the check and empty the aging log.
    static ConfigEngine* pInstance();
    static ConfigEngine* p_config;

    // A copy of the item's current value (invalid for an unknown id).
    QVariant read_config_variant(ConfigItem::ConfigName id);
    // Sets the item's value and, unless memory-only, stores it in its INI file and syncs it.
    // Safe from any thread; writes are serialised.
    void write_config_variant(ConfigItem::ConfigName id, const QVariant& value);

    // 1 when key is a full key ("config/IPAddress") of the map, else 0.
    static int containsItemStr(const QString& key);
    // The id of a key, with or without "config/"; -1 for a key that is not in the map.
    static int strToItem(const QString& key);
    // The item of a full key, or null.
    ConfigItem* getConfigItem(const QString& key);

    // Fills the 32 lower-case hex digits of the device id from the three identification words.
    static void deviceId(uint16_t w0, uint16_t w1, uint16_t w2, char out[32]);

    std::vector<ConfigItem> items;  // indexed by id
    // The parameter store's open "/data/ram_device_info", only while it reads or writes it.
    FILE* fp_ram_device_info = nullptr;

private:
    ConfigEngine();
    // The items, from settings (null: the defaults, kept in memory only).
    void makeItems(QSettings* settings);
    static void readDeviceId();
    static void readUpdateStatus();
    static void readMac();
    static void load();
    bool validId(int id) const;

    std::mutex mutex_;  // the items' values and the INI file
};
