// Reading JSON that came from outside the program: a file a server sent, a package's manifest.
//
// QJsonDocument::fromJson keeps the last of two members with the same key, so a document can
// say one thing to one reader and another to the next, and Qt 5.15 leaks the replaced member
// when it is an array. A document that names a key twice in one object is refused here before
// Qt's reader sees it.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

namespace strictjson {

// True when some object of the JSON text holds a key twice; *key (when given) is then that key,
// decoded. Keys are compared after their escapes are resolved ("a" and "\u0061" are one key).
// Text that is not JSON answers false: the caller's parser reports it. Linear in the text.
bool findDuplicateKey(const QByteArray& text, QString* key = nullptr);

// The document of `text` as QJsonDocument::fromJson reads it, or a null document with *error
// (when given) saying why: the parser's message, or the key that an object holds twice.
QJsonDocument parse(const QByteArray& text, QString* error = nullptr);

}  // namespace strictjson
