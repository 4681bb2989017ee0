#include "datatool/Generator.h"

#include "directory/ItemLists.h"

#include <QStringList>

namespace {

const QStringList& firstWords()
{
    static const QStringList words = {
        "The",    "Daily",  "Morning", "Evening",   "Weekly",    "New",    "Northern", "Southern",
        "Le",     "La",     "El",      "Il",        "Die",       "De",     "Het",      "O",
        "Diário", "Gazeta", "Journal", "Courrier",  "Dagens",    "Neue",   "Nový",     "Új",
        "Östra",  "Élan",   "Ámbito",  "Økonomisk", "Ärztliche", "Łódzki", "Наша",     "Καθημερινή",
    };
    return words;
}

const QStringList& middleWords()
{
    static const QStringList words = {
        "City",       "County",   "Valley",    "Coast",    "Harbour",     "River",   "Mountain", "Metro",
        "Provincial", "National", "Regional",  "Free",     "Independent", "Popular", "Citizen",  "Business",
        "Financial",  "Sports",   "Tech",      "Market",   "Capital",     "Island",  "Lake",     "Bay",
        "Städtische", "Général",  "Económico", "Notícias", "Société",     "Größte",  "Ελεύθερη", "Новая",
        "Северная",   "Española", "Française", "Ñuble",    "Çukurova",    "Şehir",   "Żywiec",   "Øst",
    };
    return words;
}

const QStringList& lastWords()
{
    static const QStringList words = {
        "Times",    "Herald",      "Tribune",   "Gazette",  "Post",   "Journal",    "Courier", "Chronicle",
        "Observer", "Express",     "Mirror",    "Standard", "Record", "Sentinel",   "Monitor", "Review",
        "Zeitung",  "Nachrichten", "Tageblatt", "Monde",    "Soir",   "Figaro",     "País",    "Mundo",
        "Diário",   "Notícias",    "Corriere",  "Gazzetta", "Kurier", "Posten",     "Tidende", "Dagblad",
        "Новости",  "Правда",      "Ειδήσεις",  "Haber",    "Gündem", "Wiadomości", "Noviny",  "Hírlap",
    };
    return words;
}

const QStringList& states()
{
    static const QStringList list = {"NY",        "CA",        "TX",       "FL",          "IL",
                                     "PA",        "OH",        "GA",       "WA",          "MA",
                                     "ON",        "BC",        "QC",       "NSW",         "VIC",
                                     "QLD",       "Bavaria",   "Hesse",    "Saxony",      "Île-de-France",
                                     "Andalucía", "Catalonia", "Lombardy", "Maharashtra", "Kerala",
                                     "São Paulo", "Jalisco",   "Scotland", "Wales",       "England"};
    return list;
}

const QStringList& cities()
{
    static const QStringList list = {
        "New York",
        "Los Angeles",
        "Chicago",
        "Houston",
        "Boston",
        "Seattle",
        "Toronto",
        "Vancouver",
        "Montréal",
        "Sydney",
        "Melbourne",
        "London",
        "Manchester",
        "Glasgow",
        "Cardiff",
        "Dublin",
        "Paris",
        "Lyon",
        "Marseille",
        "Berlin",
        "München",
        "Köln",
        "Zürich",
        "Genève",
        "Wien",
        "Madrid",
        "Sevilla",
        "Málaga",
        "Lisboa",
        "Porto",
        "Roma",
        "Milano",
        "Napoli",
        "Athína",
        "Istanbul",
        "Kraków",
        "Łódź",
        "Praha",
        "Brno",
        "Budapest",
        "København",
        "Göteborg",
        "Malmö",
        "Tromsø",
        "Helsinki",
        "Reykjavík",
        "Москва",
        "Санкт-Петербург",
        "Mumbai",
        "Chennai",
        "Tokyo",
        "Ōsaka",
        "Seoul",
        "São Paulo",
        "Ciudad de México",
        "Bogotá",
        "Lima",
        "Santiago",
        "Buenos Aires",
        "Nairobi",
        "Lagos",
        "Accra",
        "Cairo",
        "Johannesburg",
    };
    return list;
}

QString slug(const QString& name)
{
    QString out;
    for (const QChar c : name.toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            out += c;
    }
    return out.isEmpty() ? QStringLiteral("news") : out;
}

} // namespace

Generator::Generator(std::uint64_t seed)
    : m_state(seed ^ 0x9E3779B97F4A7C15ull)
{
}

std::uint64_t Generator::random()
{
    // splitmix64: fixed arithmetic, so a seed means the same records everywhere.
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::array<QString, Field::TextCount> Generator::next()
{
    ++m_serial;
    std::array<QString, Field::TextCount> record;

    const std::size_t words = 2 + below(4); // 2 to 5
    QStringList name;
    name << firstWords()[static_cast<qsizetype>(below(static_cast<std::size_t>(firstWords().size())))];
    for (std::size_t i = 2; i < words; ++i)
        name << middleWords()[static_cast<qsizetype>(below(static_cast<std::size_t>(middleWords().size())))];
    name << lastWords()[static_cast<qsizetype>(below(static_cast<std::size_t>(lastWords().size())))];
    record[0] = name.join(QLatin1Char(' '));

    const QString host = slug(record[0]) + QString::number(m_serial % 9973);
    static const char* const domains[] = {".com", ".net", ".org", ".co.uk", ".de", ".fr", ".es", ".it", ".com.au"};
    record[1] = QStringLiteral("https://www.") + host + QLatin1String(domains[below(std::size(domains))]) +
                (chance(20) ? QStringLiteral("/news/") : QStringLiteral("/"));

    // A third of the records are American, as in a real directory.
    const QStringList& countries = ItemLists::countries();
    record[2] = chance(33) ? QStringLiteral("United States")
                           : countries[static_cast<qsizetype>(below(static_cast<std::size_t>(countries.size())))];
    record[3] =
        chance(45) ? states()[static_cast<qsizetype>(below(static_cast<std::size_t>(states().size())))] : QString();
    record[4] = cities()[static_cast<qsizetype>(below(static_cast<std::size_t>(cities().size())))];
    const QStringList categories = ItemLists::dialogCategories();
    record[5] =
        chance(40) ? categories[static_cast<qsizetype>(below(static_cast<std::size_t>(categories.size())))] : QString();

    // A few percent of blanks in the fields that are usually filled.
    for (int i : {1, 2, 4}) {
        if (chance(3))
            record[static_cast<size_t>(i)].clear();
    }
    return record;
}
