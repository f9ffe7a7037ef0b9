// HelpUpdaterOperation: brings the help bundle of every installed, current product up to date.
// The help server names its newest bundle in "<help address>/version.txt"; when the product's
// help folder holds no bundle of that number or higher, "<help address>/<number>.rcc" is fetched
// into it. Older bundles stay.
//
// HelpUpdateSchedule: runs the help update again a fixed time after each run was handed on.
#pragma once

#include "manager/product/product.h"
#include "manager/operations/operation.h"

#include <QList>
#include <QSharedPointer>
#include <QTimer>

class HelpUpdaterOperation : public Operation
{
    Q_OBJECT
public:
    explicit HelpUpdaterOperation(const QList<Product> &products, QObject *parent = nullptr);

    // Updates every product in state 1; others are skipped. Success when every update it tried
    // could at least read the server's version, Failure (with the failed products named in
    // errorText()) otherwise; a failure of one product does not stop the others.
    void perform() override;

    // One product: false when the version file or the bundle could not be fetched, or the
    // version file holds no number.
    static bool updateHelp(const Product &product);
    // The number in the first line of a version file; false when it is not a decimal integer.
    static bool parseHelpVersion(const QByteArray &content, int *number);
    // A help bundle is a binary resource bundle; anything else (an error page served with 200, a
    // cut or empty file) would count as the newest bundle and never be fetched again.
    static bool isHelpBundle(const QString &file);

private:
    QList<Product> m_products; // copies: the operation never touches the cards' records
};

class HelpUpdateSchedule : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultIntervalMs = 3600000; // one hour

    explicit HelpUpdateSchedule(QObject *parent = nullptr);

    void setInterval(int milliseconds);
    int interval() const;
    // A run is due later.
    bool isArmed() const;

public slots:
    // Emits operationStart with a new HelpUpdaterOperation over the products and arms the next
    // run `interval` from now (replacing an armed one).
    void run(const QList<Product> &products);
    // Disarms; nothing is due until the next run().
    void stop();

signals:
    void operationStart(QSharedPointer<Operation> operation);
    // The interval since the last run() has passed: the owner calls run() again with its
    // current product list, or does not when it has stopped updating help.
    void due();

private:
    QTimer m_timer; // single shot
};
