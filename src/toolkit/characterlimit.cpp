#include "characterlimit.h"

#include "store/schema.h"

#include <QLineEdit>
#include <QValidator>

namespace toolkit {

namespace {

class CharacterLimit : public QValidator
{
public:
    CharacterLimit(int characters, QObject *parent) : QValidator(parent), m_characters(characters) {}

    State validate(QString &input, int &position) const override
    {
        if (store::codePoints(input) > m_characters) {
            input = store::leftCodePoints(input, m_characters);
            position = std::min<int>(position, int(input.size()));
        }
        return Acceptable;
    }

private:
    int m_characters;
};

} // namespace

void limitCharacters(QLineEdit *edit, int characters)
{
    delete edit->validator();
    // Room for every character in two UTF-16 units; the validator keeps the count.
    edit->setMaxLength(std::min(32767, characters * 2));
    edit->setValidator(characters < 32767 ? new CharacterLimit(characters, edit) : nullptr);
}

} // namespace toolkit
