#include "propertyTable.h"

namespace {

// Reads "key [sep] value" entries line by line. Comments start in the first
// column with '#' or '!'; white space inside a value is dropped; a backslash
// before the line end continues the entry on the next line.
class PropertyParser
{
public:
    PropertyParser (const std::string& text, WombatPropertyTable& table)
        : mText (text), mTable (table)
    {
    }

    void parse ()
    {
        while (mPos < mText.size ())
        {
            const char first = mText[mPos];
            if (first == '#' || first == '!')
            {
                skipRestOfLine ();
                continue;
            }
            skipBlanks ();
            if (atEnd ())
                break;
            if (atLineEnd ())
            {
                skipLineEnd ();
                continue;
            }
            parseEntry ();
        }
    }

private:
    bool atEnd () const { return mPos >= mText.size (); }

    bool lineEndAt (std::size_t pos) const
    {
        return pos < mText.size ()
            && (mText[pos] == '\n'
                || (mText[pos] == '\r' && pos + 1 < mText.size () && mText[pos + 1] == '\n'));
    }

    bool atLineEnd () const { return lineEndAt (mPos); }

    bool atContinuation () const
    {
        return !atEnd () && mText[mPos] == '\\' && lineEndAt (mPos + 1);
    }

    void skipLineEnd () { mPos += mText[mPos] == '\r' ? 2 : 1; }

    void skipBlanks ()
    {
        while (!atEnd () && (mText[mPos] == ' ' || mText[mPos] == '\t'))
            ++mPos;
    }

    void skipContinuation ()
    {
        ++mPos;
        skipLineEnd ();
        skipBlanks ();
    }

    void skipBlanksAndContinuations ()
    {
        for (skipBlanks (); atContinuation (); skipBlanks ())
            skipContinuation ();
    }

    void skipRestOfLine ()
    {
        while (!atEnd () && mText[mPos] != '\n')
            ++mPos;
        if (!atEnd ())
            ++mPos;
    }

    // Appends the character escaped by the backslash at mPos; a backslash
    // that ends the text is dropped.
    void readEscape (std::string& out)
    {
        ++mPos;
        if (atEnd ())
            return;
        switch (const char c = mText[mPos++])
        {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            default:  out += c;    break;
        }
    }

    void parseEntry ()
    {
        std::string key;
        while (!atEnd ())
        {
            if (atContinuation ())
            {
                skipContinuation ();
                continue;
            }
            const char c = mText[mPos];
            if (c == ' ' || c == '\t' || c == ':' || c == '=' || c == '\r' || c == '\n')
                break;
            if (c == '\\')
                readEscape (key);
            else
            {
                key += c;
                ++mPos;
            }
        }

        skipBlanksAndContinuations ();
        if (!atEnd () && (mText[mPos] == ':' || mText[mPos] == '='))
            ++mPos;
        skipBlanksAndContinuations ();

        std::string value;
        bool lineEnded = false;
        while (!atEnd ())
        {
            if (atLineEnd ())
            {
                skipLineEnd ();
                lineEnded = true;
                break;
            }
            if (atContinuation ())
            {
                skipContinuation ();
                continue;
            }
            const char c = mText[mPos];
            if (c == '\\')
                readEscape (value);
            else
            {
                if (c != ' ' && c != '\t' && c != '\r')
                    value += c;
                ++mPos;
            }
        }

        if (key.empty ())
            return;
        if (!value.empty ())
            propertyTable_set (mTable, key, value);
        else if (lineEnded)
            propertyTable_set (mTable, key, std::nullopt);
        // An unterminated last line without a value is not an entry.
    }

    const std::string&   mText;
    WombatPropertyTable& mTable;
    std::size_t          mPos = 0;
};

} // namespace

void propertyTable_parse (WombatPropertyTable& table, const std::string& text)
{
    PropertyParser (text, table).parse ();
}
