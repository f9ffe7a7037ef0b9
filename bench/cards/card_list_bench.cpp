// The product card list with large catalogs, each against its floor in the same run:
// - reading a catalog of 1,000 products (file, JSON, product records with their installations)
//   against the bare parse of the same file, QJsonDocument and a copy of every entry's fields;
// - the main window making and placing the cards of 1,000 products (rebuildProductList) against
//   1,000 plain cards of the same form, with the same texts, icons and buttons, built in a list
//   that is then shown, in a scroll area of the same width;
// - the cards of 2,000 products against those of 1,000 (2 where the work grows linearly, 4 where
//   it grows with the square).
// Floor and measured work run by turns, one pair per iteration, and the processor time of the
// calling thread is what counts: on a busy machine both see the same load, and the time spent
// waiting for a processor says nothing. The run ends with the median ratio of each pair.
//
// The cards' times end when the call that makes and shows them returns. What the event loop does
// next, mostly Qt marking every newly shown widget for repainting, is reported apart as the
// counters deferred_ms and floor_deferred_ms: Qt compares each such widget with all its siblings,
// so it grows with the square of the number of cards, for plain cards as much as for the window's.
#include <benchmark/benchmark.h>

#include "manager/app/environment.h"
#include "manager/app/logging.h"
#include "manager/app/testing/test_environment.h"
#include "manager/catalog/productcatalog.h"
#include "manager/resources/resources.h"
#include "manager/ui/mainwindow.h"
#include "manager/ui/productwidget.h"
#include "ui_productwidget.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kCatalogProducts = 1000;
constexpr int kMostCards = 2000;
// Every tenth product is installed, in the catalog's version.
constexpr int kInstalledEvery = 10;

QString productName(int i) { return QStringLiteral("Tool %1").arg(i, 4, 10, QLatin1Char('0')); }

int saleKind(int i) { return i % 3; }  // 0, 1 and 2 are all offered while no kind 3 is installed

bool isInstalled(int i) { return i % kInstalledEvery == 0; }

QString versionText(int i) { return QStringLiteral("%1.%2.0.%3").arg(1 + i % 4).arg(i % 7).arg(i); }

// A catalog of `count` products as the catalog host publishes it.
QByteArray catalogText(int count) {
    QJsonArray products;
    for (int i = 0; i < count; ++i) {
        const QString slug = productName(i).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
        QJsonArray version;
        for (const QString& part : versionText(i).split(QLatin1Char('.')))
            version.append(part.toInt());
        products.append(QJsonObject{
            {"Product", productName(i)},
            {"Version", version},
            {"URL", QStringLiteral("https://files.example/installers/%1.msi").arg(slug)},
            {"URL2", QStringLiteral("https://mirror.example/installers/%1.msi").arg(slug)},
            {"HelpURL", QStringLiteral("https://help.example/%1/").arg(slug)},
            {"sha1", QStringLiteral("%1").arg(i, 40, 16, QLatin1Char('0'))},
            {"forSale", QString::number(saleKind(i))},
            {"fsProduct", QStringLiteral("https://store.example/%1").arg(slug)},
            {"fsProductVerbose", QStringLiteral("%1 Deluxe").arg(productName(i))},
        });
    }
    return QJsonDocument(QJsonObject{{"ProductCatalog", QJsonObject{{"Version", 1}, {"Products", products}}}}).toJson();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The card resources' folder of every product, by index.
QStringList& resourceFolders() {
    static QStringList folders;
    return folders;
}

// What the manager finds on a machine where it has run before: the installed products in the
// settings, and every card's icon and description downloaded lately.
void prepareMachine() {
    QSettings settings;
    QImage icon(64, 64, QImage::Format_ARGB32);
    for (int i = 0; i < kMostCards; ++i) {
        const QString name = productName(i);
        if (isInstalled(i)) {
            settings.setValue(name.toLower() + QStringLiteral("/version"), versionText(i));
            settings.setValue(name.toLower() + QStringLiteral("/installPath"), QStringLiteral("/opt/%1/run").arg(name));
        }
        const QString folder = AppEnvironment::resourcesPath(name);
        resourceFolders().append(folder);
        icon.fill(QColor::fromHsv(i % 360, 160, 200));
        icon.save(folder + QStringLiteral("/icon.png"));
        writeFile(folder + QStringLiteral("/description.txt"),
                  QStringLiteral("%1 does one thing well, for every picture.").arg(name).toUtf8());
    }
    settings.sync();
}

// Runs whatever is posted: layout requests, deferred shows, paints.
void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// --- Catalog -------------------------------------------------------------------------------------

QString catalogFolder() {
    static QTemporaryDir folder;
    static const bool written = [] {
        writeFile(folder.filePath(QStringLiteral("product_catalog.json")), catalogText(kCatalogProducts));
        return true;
    }();
    Q_UNUSED(written)
    return folder.path();
}

// The fields of one catalog entry, copied out of the document.
struct PlainEntry {
    QString name;
    int version[4];
    QString url, url2, helpUrl, sha1;
    int forSale;
    QString fsProduct, fsProductVerbose;
};

// Processor time of the calling thread, in seconds.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The time of one run of a work: its timed part, and what the event loop did after it.
struct Times {
    double timed = 0;     // seconds; 0 when the work failed
    double deferred = 0;  // seconds
};

// Runs the event loop's pending work and answers the processor time it took.
double settled() {
    const double start = threadSeconds();
    settle();
    return threadSeconds() - start;
}

// Runs `floor` and `measured` by turns, one of each per iteration. The measured times are the
// benchmark's; the counters are the floor's mean time, both works' mean deferred time and the
// median ratio of the pairs' timed parts.
void runPairs(benchmark::State& state, const std::function<Times()>& floor, const std::function<Times()>& measured) {
    std::vector<double> ratios;
    Times floorSum, measuredSum;
    for (auto _ : state) {
        // Neither always runs first, after the other has warmed what they share.
        Times f, m;
        if (ratios.size() % 2 == 0) {
            f = floor();
            m = measured();
        } else {
            m = measured();
            f = floor();
        }
        if (f.timed <= 0 || m.timed <= 0) {
            state.SkipWithError("a run did not produce its result");
            return;
        }
        state.SetIterationTime(m.timed);
        floorSum.timed += f.timed;
        floorSum.deferred += f.deferred;
        measuredSum.deferred += m.deferred;
        ratios.push_back(m.timed / f.timed);
    }
    const double runs = double(ratios.size());
    std::nth_element(ratios.begin(), ratios.begin() + long(ratios.size() / 2), ratios.end());
    state.counters["floor_ms"] = floorSum.timed * 1e3 / runs;
    state.counters["ratio"] = ratios[ratios.size() / 2];
    if (floorSum.deferred > 0 || measuredSum.deferred > 0) {
        state.counters["floor_deferred_ms"] = floorSum.deferred * 1e3 / runs;
        state.counters["deferred_ms"] = measuredSum.deferred * 1e3 / runs;
    }
}

// The floor: the file parsed by QJsonDocument and every entry's fields copied.
Times bareCatalogParse() {
    const QString path = catalogFolder() + QStringLiteral("/product_catalog.json");
    const double start = threadSeconds();
    const QJsonDocument document = QJsonDocument::fromJson(readFile(path));
    const QJsonArray products = document.object().value("ProductCatalog").toObject().value("Products").toArray();
    std::vector<PlainEntry> entries;
    entries.reserve(std::size_t(products.size()));
    for (const QJsonValue& value : products) {
        const QJsonObject entry = value.toObject();
        const QJsonArray version = entry.value("Version").toArray();
        entries.push_back(PlainEntry{entry.value("Product").toString(),
                                     {version.at(0).toInt(), version.at(1).toInt(), version.at(2).toInt(),
                                      version.at(3).toInt()},
                                     entry.value("URL").toString(),
                                     entry.value("URL2").toString(),
                                     entry.value("HelpURL").toString(),
                                     entry.value("sha1").toString(),
                                     entry.value("forSale").toString().toInt(),
                                     entry.value("fsProduct").toString(),
                                     entry.value("fsProductVerbose").toString()});
    }
    entries.clear();
    const double seconds = threadSeconds() - start;
    return {products.size() == kCatalogProducts ? seconds : 0, 0};
}

// The manager's catalog read: the product records with their installations, as the window gets
// them; the records of the previous read go as they would.
Times catalogRead(ProductCatalog& catalog) {
    const double start = threadSeconds();
    catalog.readCatalog();
    const double seconds = threadSeconds() - start;
    return {catalog.products().size() == kCatalogProducts ? seconds : 0, 0};
}

void catalogReadAgainstBareParse(benchmark::State& state) {
    ProductCatalog catalog(QUrl(QStringLiteral("http://127.0.0.1:1/products")), catalogFolder());
    runPairs(state, bareCatalogParse, [&catalog] { return catalogRead(catalog); });
}

// --- Cards ---------------------------------------------------------------------------------------

// A card of the same form as the product card with the same contents, and nothing else.
class PlainCard : public QWidget {
public:
    PlainCard(int i, QWidget* parent) : QWidget(parent) {
        form_.setupUi(this);
        const QString name = productName(i);
        form_.nameLabel->setText(QStringLiteral("%1 Deluxe").arg(name));
        const QString folder = resourceFolders().at(i);
        form_.descriptionLabel->setText(QString::fromUtf8(readFile(folder + QStringLiteral("/description.txt"))));
        QPixmap icon;
        if (icon.load(folder + QStringLiteral("/icon.png")))
            form_.iconLabel->setPixmap(icon);
        if (isInstalled(i)) {
            auto* version = new QLabel(QStringLiteral("v%1\nup to date").arg(versionText(i)), form_.statusFrame);
            version->setObjectName(QStringLiteral("versionLabel"));
            form_.buttonLayout->addWidget(version, 1);
        } else {
            const bool buy = saleKind(i) == 2;
            auto* button = new QPushButton(buy ? QStringLiteral("Buy Now") : QStringLiteral("Install"), form_.statusFrame);
            button->setObjectName(buy ? QStringLiteral("buyButton") : QStringLiteral("installButton"));
            button->setFixedHeight(35);
            form_.buttonLayout->addWidget(button, 1);
        }
        form_.statusLabel->setText(QStringLiteral("Learn more..."));
        form_.statusLabel->setVisible(!isInstalled(i) && saleKind(i) != 1);
        form_.progressBar->hide();
        form_.errorLabel->hide();
    }

private:
    Ui::ProductWidget form_;
};

// The floor: plain cards made in a list that is shown once they are all in it.
Times plainCards(int count) {
    QScrollArea area;
    area.setWidgetResizable(true);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area.resize(600, 560);
    area.show();
    settle();

    const double start = threadSeconds();
    auto* list = new QWidget;
    list->setObjectName(QStringLiteral("scrollAreaWidgetContents"));
    area.setWidget(list);
    list->hide();
    auto* layout = new QGridLayout(list);
    layout->setSpacing(20);
    layout->setContentsMargins(10, 15, 0, 22);
    layout->addWidget(new QLabel(QStringLiteral("Your applications and plug-ins:"), list), 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Tools you might love:"), list), 2, 0);
    for (int i = 0; i < count; ++i)
        layout->addWidget(new PlainCard(i, list), i + 3, 0);
    list->show();
    const double seconds = threadSeconds() - start;
    const double deferred = settled();
    return {list->height() >= count * 110 ? seconds : 0, deferred};
}

// The window's own cards: the catalog is read beforehand, the window is shown and has run its
// first refresh (no catalog host answers: it works offline from the cached catalog, empty then).
Times windowCards(int count) {
    auto window = std::make_unique<MainWindow>(CommandNone, QString());
    window->show();
    QElapsedTimer waited;
    waited.start();
    while (!window->isOffline() && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    settle();
    writeFile(window->productCatalog()->fileName(), catalogText(count));
    window->productCatalog()->readCatalog();
    QFile::remove(window->productCatalog()->fileName());

    const double start = threadSeconds();
    window->rebuildProductList(false);
    const double seconds = threadSeconds() - start;
    const double deferred = settled();
    const bool placed = window->productWidgets().size() == count && window->productListLayout()->count() == count + 2;
    window.reset();
    settle();
    return {placed ? seconds : 0, deferred};
}

void windowCardsAgainstPlainCards(benchmark::State& state) {
    runPairs(state, [] { return plainCards(kCatalogProducts); }, [] { return windowCards(kCatalogProducts); });
}

void twiceTheCards(benchmark::State& state) {
    runPairs(state, [] { return windowCards(kCatalogProducts); }, [] { return windowCards(kMostCards); });
}

// Keeps the ratio of every benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto ratio = run.counters.find("ratio");
            if (!run.error_occurred && ratio != run.counters.end())
                ratios[run.run_name.function_name] = ratio->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void printRatio(const char* benchmark, const char* what, double most) const {
        const auto ratio = ratios.find(benchmark);
        if (ratio != ratios.end())
            std::printf("%s: %.2f (at most %.1f)\n", what, ratio->second, most);
    }
    std::map<std::string, double> ratios;
};

}  // namespace

int main(int argc, char** argv) {
    // No display needed; the message view's web engine may run as root.
    const char* defaults[][2] = {
        {"QT_QPA_PLATFORM", "offscreen"},
        {"QT_QUICK_BACKEND", "software"},
        {"QTWEBENGINE_DISABLE_SANDBOX", "1"},
        {"QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox --disable-background-networking"},
    };
    for (const auto& variable : defaults) {
        if (qEnvironmentVariableIsEmpty(variable[0]))
            qputenv(variable[0], variable[1]);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    registerBuiltinResources();
    // A scratch home; no catalog, message or update host answers.
    TestEnvironment environment;
    environment.setEnv("SOLVANE_BRAND_HOST", QStringLiteral("127.0.0.1"));
    environment.setEnv("SOLVANE_LEGACY_HOST", QStringLiteral("127.0.0.1"));
    environment.setEnv("SOLVANE_API_PORT", QStringLiteral("1"));
    environment.setEnv("SOLVANE_UPDATE_PORT", QStringLiteral("1"));
    environment.setEnv("KELTRIX_APP_MANAGER_SCHEME", QStringLiteral("http"));
    AppEnvironment::prepareFolders();
    // As the manager runs: its style sheet, and its log file written line by line.
    application.setStyleSheet(QString::fromUtf8(readFile(QStringLiteral(":/Style/ZyrStylesheet.css"))));
    initLogging();
    prepareMachine();

    benchmark::RegisterBenchmark("catalogReadAgainstBareParse", catalogReadAgainstBareParse)
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(101);
    benchmark::RegisterBenchmark("windowCardsAgainstPlainCards", windowCardsAgainstPlainCards)
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(7);
    benchmark::RegisterBenchmark("twiceTheCards", twiceTheCards)
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatio("catalogReadAgainstBareParse", "catalog of 1000 products read / bare parse", 3.0);
    reporter.printRatio("windowCardsAgainstPlainCards",
                        "cards of 1000 products made and placed / 1000 plain cards built and shown", 1.5);
    reporter.printRatio("twiceTheCards", "cards of 2000 products / cards of 1000 products", 2.2);
    benchmark::Shutdown();
    return 0;
}
