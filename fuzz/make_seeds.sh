#!/usr/bin/env bash
# Writes the hand-made seed inputs into corpus/. Inputs the fuzzer found are
# kept in the same directories as files of their own; this script does not
# touch them. Texts go through printf %b, so "\0" and "\t" stand for U+0000
# and a tab; iconv turns them into the UTF-16LE that the targets read.
set -euo pipefail
cd "$(dirname "$0")/corpus"

utf16() { printf '%b' "$1" | iconv -f UTF-8 -t UTF-16LE; }
units() { echo $(($(utf16 "$1" | wc -c) / 2)); }
byte() { printf "\\x$(printf %02x "$1")"; }

# convert NAME TEXT: a seed of both conversion targets and of the reading's
convert() {
  utf16 "$2" >"convert/$1"
  utf16 "$2" >"differential/$1"
  utf16 "$2" >"reading/$1"
}

# reading NAME TEXT: a seed of the reading target only
reading() { utf16 "$2" >"reading/$1"; }

# tokens NAME PASS_ON DELIMITER OPENING_QUOTE CLOSING_QUOTE TEXT
tokens() {
  {
    byte "$2"
    byte "$(units "$3")"
    byte "$(units "$4")"
    byte "$(units "$5")"
    utf16 "$3"
    utf16 "$4"
    utf16 "$5"
    utf16 "$6"
  } >"tokens/$1"
}

repeat() { local out=""; for ((i = 0; i < $2; ++i)); do out+="$1"; done; printf '%s' "$out"; }

mkdir -p convert differential tokens reading

convert empty ''
convert implicit_and 'a b or c'
convert nested_groups '((a b) or (c d)) e'
convert side_by_side '(a b) (c d)'
convert and_not 'a and not b OR NOT c'
convert letter_case 'Cat oR dog AnD Fish'
convert unclosed_quote 'a "b c'
convert quote_in_group '(a b) (c "d) e'
convert unmatched_close 'a)) or ((b'
convert close_first ') a ('
convert missing_close 'x (y'
convert no_spaces 'a(b)c'
convert placeholder_lookalikes '(c d) 1XXXX e 1X a1Xb "1X 2X"'
convert group_in_phrase '"x (b c)" y'
convert trailing_operator '(a b or) and'
convert operators_as_operands 'not a and or b'
convert blank_nul ' \0\0 '
convert nul_words '(a \0 b) \0 (\0 \0)'
convert tab 'a\tb (c\td)'
convert non_ascii 'Käse oder "große Katze" (中文 or 日本語)'
convert two_digit_rows "$(repeat '(a b) ' 12)10X 12X"
convert deep_nesting "$(repeat '(' 200)a$(repeat ' b)' 200)"
convert empty_pairs "$(repeat '(' 12)$(repeat ')' 12) a"
convert long_spaces "a$(repeat ' ' 1100)b"
convert dissolved_in_phrase '"x (a) y" (b "c (d) e")'
convert nested_unclosed_quote '(a "b) c (d e)'
convert outermost_groups_unclosed '("a b) or (c d" e) x'
convert and_not_chains 'a or and not b AND NOT or not c (x and not) not'
convert long_run_beside_parentheses "($(repeat ' ' 1500)a b$(repeat ' ' 3000))$(repeat ' ' 1030)(c)"
convert operator_groups 'a (or) b (and) (not c) (x) or'
# More warnings than Convert keeps: one for each group around the quote.
convert warnings_past_budget "$(repeat '(' 70)\"$(repeat ')' 70)"
# Strategies as searchers paste them: line breaks, word-processor quotes,
# field tags with spaces, operators among capitals, stray parentheses.
convert pasted_lines '(asthma OR wheez*) AND\n(child* OR adolescen*) NOT\r\nadult*'
convert pasted_spaces 'a\u00a0b\u3000c\u200bd\ufeffe\u2028f'
convert typographic_quotes '(\u201cheart failure\u201d OR \u201ecardiac failure\u201f) \u00abx y\u00bb'
convert field_tags '"heart failure"[MeSH Terms] OR asthma[MeSH Major Topic]'
convert mixed_and_or '(do not resuscitate OR DNR) telehealth OR telemedicine AND heart failure'
convert stray_closers 'a OR b) OR c) AND d (e'
convert quote_lost_in_nest '((tai chi OR "Tai Ji[mh]) AND (x y)) OR z'
convert quote_in_phrase_group '"x ((a "b) c" y) z'
# Written byte by byte, as iconv cannot make lone surrogates: a pair
# (U+1F600), then U+DC00 alone in a group and U+D800 alone at the end.
printf 'a\0 \0=\xd8\x00\xde \0(\0b\0 \0\x00\xdc \0c\0)\0 \0\x00\xd8' >convert/surrogates
cp convert/surrogates differential/surrogates
cp convert/surrogates reading/surrogates
# U+FFFF among the words.
printf 'a\0 \0\xff\xff \0(\0b\0 \0c\0)\0' >differential/nonchar

# Search strategies as databases' users write them, for the reading: groups
# within groups, quotes that never close, operator words in any case, the
# characters of word processors and of other search syntaxes.
reading pico_nested '((asthma OR wheez*) AND (child* OR adolescen*)) NOT (adult* OR elderly)'
reading phrases_and_tags '("heart failure"[mh] OR "cardiac failure"[tiab]) AND (telemonitoring OR "remote monitoring")'
reading mixed_case_operators '(Diabetes oR "blood glucose") aNd (insulin Or metformin) nOt "type 1"'
reading lower_case_operators '(diabetes or glucose) and (insulin or metformin) and not review[pt]'
reading not_chains 'cancer AND NOT (animals NOT humans) OR NOT mice and not (rat or not mouse)'
reading unclosed_quote_in_group '(stroke OR "cerebrovascular accident) AND rehabilitation'
reading unclosed_quote_nested '((tai chi OR "qigong) AND balance) OR (falls AND elderly)'
reading unclosed_quote_at_end 'exercise AND ("quality of life'
reading quotes_in_two_groups '("a b) c (d "e) f'
reading phrase_holding_groups '"heart (failure)" OR "(cardiac arrest) (x y)" AND (z w)'
reading apostrophe_quotes 'Crohn"s OR "Crohn'"'"'s disease" AND x"y"z'
reading word_processor_quotes '(\u201crandomized controlled trial\u201d OR rct) AND \u2018placebo\u2019'
reading guillemets '\u00absoins palliatifs\u00bb OR \u201ePalliativmedizin\u201c AND (cancer OR tumeur)'
reading dashes 'covid\u201019 OR sars\u2013cov\u20132 OR "2019\u2011nCoV"'
reading no_break_spaces 'heart\u00a0failure AND (ACE\u00a0inhibitor* OR sartan*)\u00a0OR\u202fARB'
reading line_breaks '(depression OR anxiety) AND\n(adolescen* OR teen*)\nAND (app OR smartphone)'
reading numbered_lines '#1 (asthma OR wheez*)\r\n#2 (child* OR infant*)\r\n#1 AND #2'
reading line_syntax '(exp Diabetes Mellitus/ OR diabet*.tw.) AND (insulin adj3 pump*).ti,ab.'
reading proximity '(pain NEAR/3 chronic) OR "low back pain" W/5 exercise'
reading deep_real '(((a OR b) AND (c OR d)) OR ((e AND f) NOT (g OR h))) AND i'
reading one_word_groups '(asthma) AND (child*) OR ((adult)) (( )) ()'
reading operators_at_ends '(OR asthma) (AND child*) (asthma OR) AND (child* AND) NOT'
reading operators_in_a_row 'asthma and or wheeze OR AND cough not not croup'
reading closers_without_openers 'asthma) OR wheez*) AND (child*'
reading unclosed_groups '((asthma OR wheez* AND (child* OR "young'
reading spaced_field_tags 'asthma[MeSH Terms] OR "asthma"[Title/Abstract] AND child[All Fields]'
reading wildcards 'wheez* OR wheez? OR wh$ez OR "bronch* spasm" OR (allerg* ?)'
reading typed_placeholders '(1X OR 2X) AND (10X 12X) 3 X (9X)'
reading invisible_separators 'asthma\tOR\u200bwheeze\ufeff AND (child\u3000OR\u2028infant)'
reading scripts '(\u7cd6\u5c3f\u75c5 OR \U0001F600) AND "\u30a4\u30f3 \u30dd\u30f3\u30d7" NOT \u03b5\u03bb'
reading fullwidth_parentheses '\uff08asthma OR wheeze\uff09 AND (child OR infant)'
reading long_or_list '(a OR b OR c OR d OR e OR f OR g OR h OR i OR j) AND (k l m n o p) NOT (q OR r)'

tokens engine_words 0 ' ' '"' '' 'a "b c" d'
tokens paired_quotes 0 ',' '[' ']' 'a,[b,c],d,[[e],f]'
tokens multi_unit_delimiter 0 '::' '' '' 'a::b::::c::'
tokens empty_delimiter 0 '' '' '' 'abc'
tokens empty_delimiter_pass_on 1 '' '"' '' 'abc'
tokens unclosed_quote 0 ' ' '"' '' 'a "b c'
tokens unclosed_quote_pass_on 1 ' ' '"' '' 'a "b c'
tokens blank_opening_quote 0 ' ' ' ' ']' 'a ]b c'
tokens nul_quote 0 ' ' '\0' '' 'a \0b c'
tokens multi_unit_quotes 0 ' ' '<<' '>>' 'a <<b c>> d <<<e>>'
tokens empty_text 0 ' ' '"' '' ''
tokens text_is_delimiter 0 '--' '' '' '--'
tokens bordered_delimiter 0 'aba' '' '' 'ba'
tokens bordered_delimiter_aa 0 'aa' '' '' 'a'
tokens bordered_delimiter_colons 1 '::' '"' '' 'x "y"::a:'
