#include "jobs/gate.h"

namespace gate {
namespace {

bool trimmed(unsigned char c) {
    return c <= ' ' || c == 127;
}

const std::vector<std::string>& englishLines() {
    static const std::vector<std::string> lines{
        "You are about to overwrite any existing data on selected device. If you ",
        "are not sure what you are doing, if you don't know why you came here, ",
        "or if you want to abort, just cancel this window.",
        "",
        "I am not responsible for you loosing your data! You have to agree that ",
        "i did any effort to notify you about your planned destruction of existing ",
        "data.",
        "",
        "Also, i can not guarantuee at all that this application, and/or used ",
        "windows api, is without bugs. This means, you can get unexpected ",
        "results. Like overwriting the wrong data. Possible causes may be: ",
        "seek operations that fail, writing beyond set length, coding errors, gui ",
        "errors or other bugs,  etc. etc.",
        "",
        "If you have read this, and still want to overwrite data AT YOUR OWN ",
        "RISK, enter 'i agree' (case insensitive) in the edit box below.",
        "",
    };
    return lines;
}

} // namespace

bool agreementAccepted(const std::string& typed) {
    size_t b = 0, e = typed.size();
    while (b < e && trimmed(static_cast<unsigned char>(typed[b])))
        ++b;
    while (e > b && trimmed(static_cast<unsigned char>(typed[e - 1])))
        --e;
    std::string text = typed.substr(b, e - b);
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text == "i agree";
}

const std::vector<Notice>& notices() {
    static const std::vector<Notice> all = [] {
        std::vector<Notice> n;
        n.push_back({"&English", englishLines()});
        n.push_back({"Nederlands",
                     {"U staat op het punt alle bestaande gegevens op het gekozen apparaat te ",
                      "overschrijven. Als u niet zeker weet wat u doet, of als u wilt stoppen, ",
                      "annuleer dan dit venster.", "",
                      "Ik ben niet verantwoordelijk voor het verlies van uw gegevens. U gaat ermee ",
                      "akkoord dat ik alles heb gedaan om u te waarschuwen.", "",
                      "Ik kan niet garanderen dat dit programma zonder fouten is. U kunt ",
                      "onverwachte resultaten krijgen, zoals het overschrijven van de verkeerde ",
                      "gegevens.", "", "Als u dit gelezen heeft en toch OP EIGEN RISICO gegevens wilt ",
                      "overschrijven, typ dan 'i agree' (hoofdletters maken niet uit) in het ",
                      "invoerveld hieronder.", ""}});
        n.push_back({"Français",
                     {"Vous êtes sur le point d'écraser toutes les données existantes du ",
                      "périphérique choisi. Si vous n'êtes pas sûr de ce que vous faites, ou si ",
                      "vous voulez abandonner, fermez simplement cette fenêtre.", "",
                      "Je ne suis pas responsable de la perte de vos données. Vous reconnaissez ",
                      "avoir été averti de la destruction prévue des données existantes.", "",
                      "Je ne peux pas garantir que ce programme soit sans erreurs. Vous pouvez ",
                      "obtenir des résultats inattendus, comme l'écrasement des mauvaises données.", "",
                      "Si vous avez lu ceci et voulez quand même écraser les données À VOS ",
                      "RISQUES ET PÉRILS, tapez 'i agree' (majuscules ou minuscules) dans la zone ",
                      "de saisie ci-dessous.", ""}});
        n.push_back({"Italiano",
                     {"Stai per sovrascrivere tutti i dati esistenti sul dispositivo scelto. Se ",
                      "non sei sicuro di quello che fai, o se vuoi interrompere, chiudi questa ", "finestra.",
                      "", "Non sono responsabile della perdita dei tuoi dati. Accetti di essere stato ",
                      "avvisato della distruzione prevista dei dati esistenti.", "",
                      "Non posso garantire che questo programma sia privo di errori. Puoi ottenere ",
                      "risultati inattesi, come la sovrascrittura dei dati sbagliati.", "",
                      "Se hai letto questo testo e vuoi comunque sovrascrivere i dati A TUO ",
                      "RISCHIO, scrivi 'i agree' (maiuscole o minuscole non importa) nella ",
                      "casella qui sotto.", ""}});
        n.push_back({"Espanol",
                     {"Está a punto de sobrescribir todos los datos existentes en el dispositivo ",
                      "elegido. Si no está seguro de lo que hace, o si quiere abandonar, ",
                      "simplemente cierre esta ventana.", "",
                      "No soy responsable de la pérdida de sus datos. Usted acepta que ha sido ",
                      "avisado de la destrucción prevista de los datos existentes.", "",
                      "No puedo garantizar que este programa esté libre de errores. Puede obtener ",
                      "resultados inesperados, como sobrescribir los datos equivocados.", "",
                      "Si ha leído esto y aun así quiere sobrescribir los datos BAJO SU PROPIO ",
                      "RIESGO, escriba 'i agree' (sin distinguir mayúsculas y minúsculas) en el ",
                      "cuadro de texto de abajo.", ""}});
        n.push_back(
            {"Portuguesa",
             {"Está prestes a substituir todos os dados existentes no dispositivo ",
              "escolhido. Se não tem a certeza do que está a fazer, ou se quer desistir, ",
              "feche simplesmente esta janela.", "",
              "Não sou responsável pela perda dos seus dados. Aceita que foi avisado da ",
              "destruição prevista dos dados existentes.", "",
              "Não posso garantir que este programa esteja livre de erros. Pode obter ",
              "resultados inesperados, como substituir os dados errados.", "",
              "Se leu isto e mesmo assim quer substituir os dados POR SUA CONTA E RISCO, ",
              "escreva 'i agree' (maiúsculas ou minúsculas, tanto faz) na caixa de texto ", "abaixo.", ""}});
        n.push_back({"Deutsch",
                     {"Sie sind dabei, alle vorhandenen Daten auf dem gewählten Gerät zu ",
                      "überschreiben. Wenn Sie nicht sicher sind, was Sie tun, oder abbrechen ",
                      "möchten, schließen Sie einfach dieses Fenster.", "",
                      "Ich bin nicht verantwortlich für den Verlust Ihrer Daten. Sie stimmen zu, ",
                      "dass Sie vor der geplanten Zerstörung der vorhandenen Daten gewarnt wurden.", "",
                      "Ich kann nicht garantieren, dass dieses Programm fehlerfrei ist. Es kann zu ",
                      "unerwarteten Ergebnissen kommen, etwa zum Überschreiben der falschen Daten.", "",
                      "Wenn Sie dies gelesen haben und die Daten trotzdem AUF EIGENE GEFAHR ",
                      "überschreiben wollen, geben Sie 'i agree' (Groß- und Kleinschreibung egal) ",
                      "in das Eingabefeld unten ein.", ""}});
        std::vector<std::string> usa{"You cannot sew me! Stop using this application immediately if you ",
                                     "think you can sew me for data loss based on american laws!", ""};
        usa.insert(usa.end(), englishLines().begin(), englishLines().end());
        n.push_back({"USA", usa});
        return n;
    }();
    return all;
}

std::string secondQuestion(const std::string& description) {
    return "You are sure you want to overwrite " + description;
}

std::string diskLine(const platform::DriveIdentity& disk, char decimalSeparator) {
    // Tenths cut off, as the drive list's GB column does.
    const auto tenths = [&](int64_t units, const char* unit) {
        const int64_t t = disk.size / (units / 10);
        return std::to_string(t / 10) + decimalSeparator + std::to_string(t % 10) + " " + unit;
    };
    const std::string size = disk.size >= 1000000000 ? tenths(1000000000, "GB")
                             : disk.size >= 1000000  ? tenths(1000000, "MB")
                                                     : std::to_string(disk.size) + " bytes";
    std::string parts;
    for (const std::string& part : {disk.node, disk.product(), disk.serial, size})
        if (!part.empty()) parts += (parts.empty() ? "" : "  ") + part;
    return "Disk: " + parts;
}

bool ConfirmOverwrite(platform::Backend& backend, Dialogs& dialogs, const TFileInfo& target) {
    // Looked up now, by the name the write will open: not what a list showed earlier.
    const auto disk = backend.driveIdentity(target.FileName);
    const auto typed =
        dialogs.typedAgreement(target, disk ? diskLine(*disk, platform::decimalSeparator()) : std::string());
    // The window lets OK through only for the agreement; the rule is checked here all the same.
    if (!typed || !agreementAccepted(*typed)) return false;
    const Question question{secondQuestion(target.Description),
                            Icon::Question,
                            {Button::Yes, Button::No, Button::Cancel},
                            Button::No,
                            kQuestionId};
    return dialogs.ask(question) == Button::Yes;
}

} // namespace gate
