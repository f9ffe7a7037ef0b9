// Resource bundles from the servers (message pages, help) are registered with Qt's resource
// system, which trusts every offset and count inside a bundle: a damaged or crafted bundle would
// make it read outside the file when a page is looked up. A bundle is checked whole before it is
// registered.
#pragma once

#include <QByteArray>
#include <QString>

// True when every node of the bundle's tree, its name and its data lie inside the bytes, the tree
// has no cycle, and no compressed entry claims more than deflate could expand it to; otherwise
// false with the reason in *why.
bool isWellFormedResourceBundle(const QByteArray &bytes, QString *why = nullptr);

// The same for a file; false when it cannot be read.
bool isWellFormedResourceBundleFile(const QString &path, QString *why = nullptr);
