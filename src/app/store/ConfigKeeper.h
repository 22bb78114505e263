#pragma once

#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QString>

// moc never sees this header; the guard keeps the C++20 library headers from it all the same.
#ifndef Q_MOC_RUN
#include "config/ConfigStore.h"
#include <QCoro/QCoroTask>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#endif

class UsageStore;

// config.json while the program runs, for the store (its friend, on the main thread). Loads it at
// start and takes the person's changes to it without a restart: a watch on the file and its
// folder (so an editor's rename over it is seen too), a look at every refresh and before every
// save. It writes the store's configuration only over a file that holds one: a file that does not
// parse or decode is left exactly as the person wrote it, while the store runs on the backup (or
// the last configuration read, or the defaults) in memory and its saves are held back. Each broken
// version is kept beside the file (ConfigStore::keepBroken) and told once by a notification; the
// panel's banner says what is wrong for as long as it is, and its button writes the configuration
// in memory over the broken file.
class ConfigKeeper {
    Q_DECLARE_TR_FUNCTIONS(ConfigKeeper)

public:
    explicit ConfigKeeper(UsageStore& store);
    ConfigKeeper(const ConfigKeeper&) = delete;
    ConfigKeeper& operator=(const ConfigKeeper&) = delete;

    // Reads config.json into the store's configuration (at start, once).
    void load();
    // Writes the store's configuration, unless the person changed the file since it was last read
    // or written here (their change is taken instead) or it has a fault.
    void save();
    // Takes config.json again when it changed: a configuration replaces the store's, a fault is
    // kept and told. Returns whether the store's configuration changed.
    bool look();
    // Writes the store's configuration over the broken file, once that is kept. False when the
    // file has no fault or it could not be done (the store's message says which).
    bool restore();

    const std::optional<ConfigStore::Fault>& fault() const { return m_fault; }
    // The banner's text: what is wrong with the file and what runs meanwhile; empty without a fault.
    QString faultText() const;
    // The banner's button, empty when the file cannot be restored (it cannot even be read).
    QString restoreText() const;

private:
    void watch();
    QCoro::Task<> lookAfterDelay(std::uint64_t generation);
    void broken(const ConfigStore::Reading& reading);
    void setFault(std::optional<ConfigStore::Fault> fault);
    QString fileText() const;

    UsageStore& m_store;
    // config.json's content as last read or written here; none when it is missing or unreadable.
    std::optional<std::string> m_bytes;
    std::optional<ConfigStore::Fault> m_fault;
    // With a fault: the store runs on a detected default, not on a configuration the person had.
    bool m_onDefaults = false;
    // Fingerprints of the broken versions already notified.
    std::set<std::uint64_t> m_told;
    QFileSystemWatcher m_watcher;
    std::uint64_t m_lookGeneration = 0;
};
