#pragma once

#include <QByteArray>
#include <QString>

namespace portal::sync {

// The user's key to the exchange's data service: from the environment variable JQUANTS_API_KEY,
// else from the key file. The key is never put in an argument, a log, a message or the store.

// $XDG_CONFIG_HOME/quorvix/jquants.key, by default ~/.config/quorvix/jquants.key.
QString keyFilePath();

struct KeyLookup {
    QByteArray key;   // empty when there is none or it was refused
    QString error;    // Japanese: why a key file was refused; empty when there simply is none
    QString fromFile; // the key file it came from; empty when from the environment
};
KeyLookup findKey();

// A key as typed or pasted: surrounding white space dropped; empty when it holds anything a key
// cannot (white space, control characters) or is far too long.
QByteArray cleanKey(const QByteArray& text);

// Writes the key file, readable by its owner only (0600, in a folder only the owner may enter),
// replacing the one before whole. Empty on success, else why (Japanese).
QString writeKeyFile(const QByteArray& key, const QString& path = keyFilePath());

} // namespace portal::sync
