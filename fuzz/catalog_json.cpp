// The product and message catalogs as the manager reads its cached copies: the file through
// readJsonFile, then both parsers (a server may send either document in place of the other).
#include "fuzz/fuzz_support.h"
#include "manager/catalog/catalogfile.h"
#include "manager/catalog/messagecatalog.h"
#include "manager/catalog/productcatalog.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzing::isolateEnvironment();
    // Never destroyed: what Qt keeps for the process stays reachable for the leak check at exit.
    new QCoreApplication(*argc, *argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Solvane Vizoruv Labs"));
    QCoreApplication::setApplicationName(QStringLiteral("Solvane Manager"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = QString::fromStdString(fuzzing::writeInput(data, size, ".json"));
    const QJsonDocument document = readJsonFile(path);
    const QList<Product> products = ProductCatalog::parseProductCatalog(document);
    for (const Product& product : products)
        (void)product.catalogVersion().toString();
    (void)MessageCatalog::parseMessageCatalog(document);
    return 0;
}
