// Registration of the built-in resource bundles. Linking manager_resources into an executable
// registers every bundle before `main` runs; the functions register them again on demand, which
// changes nothing for a bundle that is already registered.
//
//   translations   ":/translations/language_<code>.qm" for en, de, fr, es, zh, ru, ko, ja, nl, pt
//   style          ":/Style/ZyrStylesheet.css", ":/Style/stylesheet.css", ":/Style/dialog-styles.css",
//                  ":/Style/solvane-dialog-styles.css", ":/Style/Fonts/…", ":/Style/Images/…"
//   message pages  ":/default_message/", ":/solvane_message/" (index.html with its background)
//   install page   ":/install_message/" (index.html with its background)
#pragma once

void registerTranslationsBundle();
void registerStyleBundle();
void registerMessagePagesBundle();
void registerInstallPageBundle();
// All four bundles.
void registerBuiltinResources();
