#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"

namespace boolconv {
namespace {

// A finding's stretch in code points of the input, end exclusive.
using Span = std::pair<size_t, size_t>;

// The spans of the findings with `code`, in the order Check lists them.
std::vector<Span> SpansOf(const std::vector<Diagnostic>& diagnostics, std::string_view code) {
  std::vector<Span> spans;
  for (const Diagnostic& d : diagnostics) {
    if (d.code == code) spans.emplace_back(d.start, d.end);
  }
  return spans;
}

// A strategy as pasted, and where the findings of one code must stand.
struct SpanCase {
  Text input;
  std::vector<Span> expected;
};

// Checks each case for the findings of `code` alone, so that what else a
// strategy draws does not matter here; every one of them is a warning.
template <size_t kCount>
void ExpectSpans(std::string_view code, const SpanCase (&cases)[kCount]) {
  for (const SpanCase& c : cases) {
    const std::vector<Diagnostic> found = Check(c.input);
    EXPECT_EQ(SpansOf(found, code), c.expected) << code << " in " << ToUtf8(c.input);
    for (const Diagnostic& d : found) {
      if (d.code == code) {
        EXPECT_EQ(d.severity, Severity::kWarning) << code << " in " << ToUtf8(c.input);
      }
    }
  }
}

// Proximity operators, which the converter searches for as words. The span
// is the operator word, or the "~N" after a phrase.
TEST(DatabaseSyntaxTest, ProximityOperators) {
  const SpanCase cases[] = {
      // Ovid: bare adj and adjN in any letter case, beside a pasted mathematical beta
      {u"(\U0001D6FD-blocker* and (heart adj3 failure)).ti,ab. or (exercise adj training).ti,ab. "
       u"or (cardiac ADJ2 rehab*).ti,ab.",
       {{23, 27}, {58, 61}, {91, 95}}},
      // Web of Science: NEAR/N, and NEAR bare in capitals
      {u"TS=((hand NEAR/3 hygiene) OR (hand NEAR washing))", {{10, 16}, {35, 39}}},
      // Scopus: W/N and PRE/N, lower case too
      {u"TITLE-ABS-KEY(nurse* w/5 burnout) AND TITLE-ABS-KEY(fall* PRE/2 prevent*)",
       {{21, 24}, {58, 63}}},
      // CINAHL: N and a number
      {u"TI ( pressure N3 ulcer* ) OR AB ( pressure N3 injur* )", {{14, 16}, {43, 45}}},
      // Cochrane and Embase.com: near/N, and NEXT bare in capitals
      {u"(heart near/3 failure):ti,ab,kw OR (cardiac NEXT insufficiency):ti,ab",
       {{7, 13}, {44, 48}}},
      // a proximity number glued after a closing double quote
      {u"(\"hand hygiene\"~3 OR \"hand washing\"~5) AND nurs*", {{15, 17}, {35, 37}}},
      // words that only begin like an operator, and lower-case near and next
      {u"(breast adjuvant chemotherapy OR lumbar adjacent segment) AND (cerebral near infrared "
       u"spectroscopy OR tumour next generation sequencing)",
       {}},
      // hyphens, N with letters, and W/ with a letter are no proximity operators
      {u"(dietary n-3 fatty acids OR dietary omega-3 supplement*) AND (oral N-acetylcysteine "
       u"therapy OR cream W/O emulsion* OR medication near-miss event*)",
       {}},
  };
  ExpectSpans("proximity-operator", cases);
}

// Field codes typed before or after a group or phrase, which stay words to
// search for. The span is the code without its "(", or the suffix after the
// ")".
TEST(DatabaseSyntaxTest, FieldCodes) {
  const SpanCase cases[] = {
      // Web of Science: field tags ending in "=" glued to a group
      {u"TS=(\"heart failure\" OR \"cardiac failure\") AND PY=(2015-2024)", {{0, 3}, {46, 49}}},
      // Scopus: field names glued to a group
      {u"TITLE-ABS-KEY(\"heart failure\") AND AB(telemonitoring) AND DOCTYPE(ar)",
       {{0, 13}, {35, 37}, {58, 65}}},
      // CINAHL: two-letter codes before a spaced group
      {u"TI ( asthma OR wheez* ) OR AB ( asthma OR wheez* )", {{0, 2}, {27, 29}}},
      // CINAHL: subject headings before a phrase, and a code before a group
      {u"(MH \"Asthma+\") OR (MH \"Wheezing\") OR SU ( asthma )", {{1, 3}, {19, 21}, {37, 39}}},
      // Ovid: field suffixes glued to a group
      {u"(heart adj3 failure).ti,ab. or (cardiac insufficiency).mp.", {{20, 27}, {54, 58}}},
      // Cochrane: a field suffix after a colon
      {u"(\"heart failure\" OR \"cardiac failure\"):ti,ab,kw AND (telemonitor* OR "
       u"telehealth):ti,ab,kw",
       {{38, 47}, {80, 89}}},
      // Embase.com: a field suffix and an explosion glued to groups
      {u"(asthma OR wheez*):ab,ti AND (child OR infant)/exp", {{18, 24}, {46, 50}}},
      // a number glued to a group and a one-letter word before one are no field codes
      {u"(vitamin D (cholecalciferol OR ergocalciferol) OR 25(OH)D) AND IL-6", {}},
  };
  ExpectSpans("field-code", cases);
}

// A bracketed tag typed apart from its term becomes a search word.
TEST(DatabaseSyntaxTest, SpacedFieldTags) {
  const SpanCase cases[] = {
      // a tag typed after a space, twice
      {u"randomized controlled trial [pt] OR placebo [tiab]", {{28, 32}, {44, 50}}},
      // after a phrase; a glued tag draws nothing
      {u"\"heart failure\" [mh] AND telemonitoring[tiab]", {{16, 20}}},
      // inside a group, beside the same term tagged the right way
      {u"(asthma[mh] OR asthma [tiab]) AND child*[tiab]", {{22, 28}}},
      // a tag with a colon, after two spaces and a pasted mathematical beta
      {u"\"\U0001D6FD-thalassemia\"  [Mesh:NoExp] OR thalass*[tiab]", {{17, 29}}},
      // glued tags throughout draw nothing
      {u"(\"heart failure\"[mh] OR \"cardiac failure\"[tiab]) AND telemonitoring[tiab]", {}},
  };
  ExpectSpans("spaced-field-tag", cases);
}

// A colon or dash standing alone between two terms, meant as a range.
TEST(DatabaseSyntaxTest, Ranges) {
  const SpanCase cases[] = {
      // a publication-date range with a spaced colon
      {u"asthma[mh] AND (\"2000/01/01\"[dp] : \"2024/12/31\"[dp])", {{33, 34}}},
      // years with a spaced hyphen
      {u"\"heart failure\"[tiab] AND 2010 - 2020[dp]", {{31, 32}}},
      // years with a spaced en dash
      {u"(covid-19 OR SARS-CoV-2) AND 2020 \u2013 2023[dp]", {{34, 35}}},
      // Web of Science years, after a pasted mathematical beta
      {u"TS=(\U0001D6FD-thalassemia) AND PY=(2010 - 2020)", {{32, 33}}},
      // glued ranges and hyphenated words draw nothing
      {u"asthma[mh] AND 2015:2024[dp] AND (\"2015\"[dp]:\"2024\"[dp]) AND (covid-19 OR 2019-nCoV "
       u"OR pre-eclampsia)",
       {}},
  };
  ExpectSpans("range", cases);
}

// A sign in front of a word, meant as a required or excluded term. The span
// is the sign alone.
TEST(DatabaseSyntaxTest, SignPrefixes) {
  const SpanCase cases[] = {
      // a minus sign as a search engine takes it
      {u"asthma -pediatric", {{7, 8}}},
      // plus signs for required terms and a minus for excluded ones
      {u"+asthma +child* -adult*", {{0, 1}, {8, 9}, {16, 17}}},
      // an en dash from a word processor
      {u"(covid-19 OR SARS-CoV-2) \u2013editorial", {{25, 26}}},
      // an em dash and a minus sign
      {u"stroke \u2014animal* \u2212rat*", {{7, 8}, {16, 17}}},
      // a plus before a phrase, after a pasted mathematical beta
      {u"\U0001D6FD-blocker* +\"heart failure\" -propranolol", {{11, 12}, {28, 29}}},
      // hyphens inside words
      {u"(covid-19 OR SARS-CoV-2 OR 2019-nCoV) AND (self-care OR e-health OR pre-eclampsia)", {}},
      // signs that end or sit inside a word
      {u"(CD4+[tiab] OR IL-6[tiab] OR anti-TNF[tiab] OR HbA1c[tiab]) AND 2010\u20132020[dp]", {}},
  };
  ExpectSpans("sign-prefix", cases);
}

// Phrases in single quotes, which make no phrase here. The span runs from
// the opening quote to the closing one.
TEST(DatabaseSyntaxTest, SingleQuotedPhrases) {
  const SpanCase cases[] = {
      // Embase.com: phrases in single quotes in a group
      {u"('heart attack' OR 'myocardial infarction'):ti,ab", {{1, 15}, {19, 42}}},
      // Embase.com: an Emtree phrase with /exp; a single word in quotes is fine
      {u"'heart attack'/exp OR 'asthma'/exp", {{0, 14}}},
      // typographic single quotes
      {u"\u2018heart failure\u2019 OR \u2018cardiac failure\u2019", {{0, 15}, {19, 36}}},
      // apostrophes, straight, do not pair into a phrase
      {u"Crohn's AND (patients' OR carers') AND experience*", {}},
      // quoted single words side by side do not make a phrase between them
      {u"'asthma'/exp AND 'child'/exp AND 'wheezing'/exp", {}},
      // typographic apostrophes beside a typographic phrase
      {u"Alzheimer\u2019s AND caregivers\u2019 AND \u2018quality of life\u2019", {{32, 49}}},
      // a three-word phrase after a pasted mathematical beta
      {u"\U0001D6FD-thalassemia OR 'thalassemia major'", {{17, 36}}},
  };
  ExpectSpans("single-quote", cases);
}

// An operator joined to a double quote belongs to the phrase's word, so it
// joins nothing.
TEST(DatabaseSyntaxTest, OperatorsGluedToQuotes) {
  const SpanCase cases[] = {
      // OR between two phrases with no spaces
      {u"\"heart failure\"OR\"cardiac failure\"", {{15, 17}}},
      // OR glued to the phrase before it, after a pasted mathematical beta
      {u"\"\U0001D6FD-blocker\"OR propranolol", {{11, 13}}},
      // OR glued to the phrase after it
      {u"telemonitoring OR\"remote monitoring\"", {{15, 17}}},
      // AND and NOT glued
      {u"(\"heart failure\"AND\"self-care\") NOT\"pediatric\"", {{16, 19}, {32, 35}}},
      // an operator in lower case
      {u"\"hand hygiene\"or\"hand washing\"", {{14, 16}}},
      // OR between glued field tags and a phrase
      {u"\"hand hygiene\"[tiab]OR\"hand washing\"[tiab]", {{20, 22}}},
      // parentheses get spaces, so operators beside them are operators
      {u"(asthma)AND(wheeze) OR (\"cough\")OR(\"sputum\")", {}},
      // OR as a quoted word, the operating room
      {u"(\"operating room\"[tiab] OR \"OR\"[tiab]) AND nurs*", {}},
  };
  ExpectSpans("glued-operator", cases);
}

// "or not" reads as NOT, and the OR is lost.
TEST(DatabaseSyntaxTest, OrNot) {
  const SpanCase cases[] = {
      // OR NOT between two terms
      {u"diabetes OR NOT insulin", {{9, 15}}},
      // in lower case, between groups
      {u"(asthma OR wheez*) or not (child* OR infant*)", {{19, 25}}},
      // NOT glued to a group
      {u"hospital* OR NOT(\"nursing home*\")", {{10, 16}}},
      // two spaces between them
      {u"diabetes OR  NOT insulin", {{9, 16}}},
      // in mixed case, after a pasted mathematical beta
      {u"(\U0001D6FD-thalassemia OR anaemia) Or Not iron*", {{27, 33}}},
      // inside a phrase too, which then searches for "to treat NOT to treat"
      {u"(\"watchful waiting\" OR \"to treat or not to treat\") AND prostat*", {{33, 39}}},
      // words that begin with or and not, and AND NOT
      {u"(hospital OR Nottingham OR not-for-profit) AND NOT (asthma OR notch*)", {}},
  };
  ExpectSpans("or-not", cases);
}

// Control characters from an export join the words on either side.
TEST(DatabaseSyntaxTest, ControlCharactersJoinWords) {
  const SpanCase cases[] = {
      // a control character between a word and OR
      {u"asthma\u0001OR wheeze", {{6, 7}}},
      // a record separator after a group
      {u"(asthma OR wheez*)\u001EAND child*", {{18, 19}}},
      // a delete character between OR and a word
      {u"asthma OR\u007Fwheeze", {{9, 10}}},
      // a control character inside a phrase
      {u"\"heart\u0002failure\"[tiab] OR cardiomyopathy[tiab]", {{6, 7}}},
      // a control character at the start
      {u"\u001Fasthma OR wheeze", {{0, 1}}},
      // after a pasted mathematical beta
      {u"\U0001D6FD-blocker*\u001FOR propranolol", {{10, 11}}},
  };
  ExpectSpans("joined-words", cases);
}

// The rewrite that mixed-and-or suggests keeps what the searcher meant:
// adjacent words stay together, and where AND and OR are both written, both
// ways of reading them are named.
TEST(DatabaseSyntaxTest, MixedAndOrAdviceKeepsTheMeaning) {
  const struct {
    Text input;
    std::vector<std::string> shown;      // the advice holds each of these
    std::vector<std::string> not_shown;  // groupings that split a term
  } cases[] = {
      // runs of adjacent words OR-ed together, in lower case
      {u"(nursing home* or care home* or long term care)",
       {"(nursing home*)", "(care home*)", "(long term care)"},
       {"(home* or care)"}},
      // the same, inside a group ANDed with another term
      {u"(intensive care OR critical care OR ICU) AND delirium[tiab]",
       {"(intensive care)", "(critical care)"},
       {"(care OR critical)"}},
      // one run of two words and a single term
      {u"hand hygiene OR handwashing", {"(hand hygiene)"}, {"(hygiene OR handwashing)"}},
      // AND and OR both written: read left to right, or AND first
      {u"asthma OR wheeze AND child*",
       {"(asthma OR wheeze) AND child*", "asthma OR (wheeze AND child*)"},
       {}},
      {u"telehealth OR telemedicine AND \"heart failure\"",
       {"(telehealth OR telemedicine) AND ", "telehealth OR (telemedicine AND "},
       {}},
  };
  for (const auto& c : cases) {
    const std::vector<Diagnostic> found = Check(c.input);
    const auto mixed = std::find_if(found.begin(), found.end(),
                                    [](const Diagnostic& d) { return d.code == "mixed-and-or"; });
    ASSERT_NE(mixed, found.end()) << ToUtf8(c.input);
    for (const std::string& text : c.shown) {
      EXPECT_NE(mixed->message.find(text), std::string::npos) << text << " in " << mixed->message;
    }
    for (const std::string& text : c.not_shown) {
      EXPECT_EQ(mixed->message.find(text), std::string::npos) << text << " in " << mixed->message;
    }
  }
}

// Well-formed strategies: words, double-quoted phrases, glued field tags,
// AND/OR/NOT and parentheses, with the hyphens, apostrophes, numbers and
// look-alike words that searches are full of. None draws a warning.
TEST(DatabaseSyntaxTest, CleanStrategiesDrawNoWarning) {
  const Text clean[] = {
      // PubMed: subject headings and text words, ANDed blocks
      u"(\"heart failure\"[mh] OR \"heart failure\"[tiab] OR \"cardiac failure\"[tiab]) AND "
      u"(telemonitoring[tiab] OR telehealth[tiab] OR \"remote monitoring\"[tiab])",
      // a trials filter with a nested NOT
      u"(\"randomized controlled trial\"[pt] OR \"controlled clinical trial\"[pt] OR "
      u"randomized[tiab] OR placebo[tiab] OR randomly[tiab] OR trial[ti]) NOT (animals[mh] NOT "
      u"humans[mh])",
      u"\"Diabetes Mellitus, Type 2\"[mh] OR \"type 2 diabetes\"[tiab] OR T2DM[tiab] OR "
      u"NIDDM[tiab]",
      // hyphenated names, and a glued range of years
      u"(COVID-19[mh] OR SARS-CoV-2[mh] OR \"COVID-19\"[tiab] OR 2019-nCoV[tiab] OR \"novel "
      u"coronavirus\"[tiab]) AND 2020:2024[dp]",
      u"(\"Pre-Eclampsia\"[mh] OR pre-eclampsia[tiab] OR preeclampsia[tiab]) AND (aspirin[mh] OR "
      u"aspirin[tiab])",
      u"(Telemedicine[mh] OR e-health[tiab] OR ehealth[tiab] OR mhealth[tiab] OR \"mobile "
      u"health\"[tiab]) AND \"Self Care\"[mh]",
      // apostrophes that must not pair up as single quotes
      u"(\"Crohn Disease\"[mh] OR Crohn's[tiab] OR \"Crohn's disease\"[tiab]) AND (patients'[tiab] "
      u"OR carers'[tiab])",
      u"\"Alzheimer Disease\"[Mesh:NoExp] OR Alzheimer's[tiab] OR dementia*[tiab]",
      // n-3 and omega-3
      u"(\"Fatty Acids, Omega-3\"[mh] OR omega-3[tiab] OR n-3[tiab] OR \"fish oil*\"[tiab]) AND "
      u"depress*[tiab]",
      u"(\"Chemotherapy, Adjuvant\"[mh] OR adjuvant[tiab]) AND (\"breast neoplasms\"[mh] OR "
      u"\"breast cancer\"[tiab])",
      // adjacent, near and next as ordinary words
      u"(lumbar adjacent segment degeneration) OR \"adjacent segment disease\"[tiab]",
      u"(cerebral near infrared spectroscopy) AND (neonat* OR preterm* OR infant*)",
      u"(tumour next generation sequencing) AND (colorectal OR colon OR rectal)",
      // operators all in lower case
      u"(asthma or wheez* or bronchospas*) and (child* or paediatric* or pediatric*) not (adult* "
      u"or elderly)",
      // nested groups
      u"((hip OR femoral) AND fractur*) OR \"Hip Fractures\"[mh]",
      u"(((exercise[tiab] OR training[tiab]) AND (balance[tiab] OR gait[tiab])) OR \"Tai Ji\"[mh]) "
      u"AND (fall*[tiab] OR \"Accidental Falls\"[mh])",
      // wildcards
      u"wom?n[tiab] OR behavio*r[tiab] OR organi?ation*[tiab]",
      // signs and hyphens inside and after words
      u"\"CD4-Positive T-Lymphocytes\"[mh] OR CD4+[tiab] OR \"T helper cell*\"[tiab]",
      u"(IL-6[tiab] OR interleukin-6[tiab] OR \"C-reactive protein\"[tiab] OR CRP[tiab]) AND "
      u"Sepsis[mh]",
      // N before a hyphen or a number, glued to its tag
      u"N-acetylcysteine[tiab] OR Acetylcysteine[mh] OR NAC[tiab]",
      u"(N95[tiab] OR FFP2[tiab] OR FFP3[tiab] OR respirator*[tiab]) AND \"Health Personnel\"[mh]",
      u"NT-proBNP[tiab] OR \"Natriuretic Peptide, Brain\"[mh]",
      u"(\"hand hygiene\"[tiab] OR \"hand washing\"[tiab] OR handwash*[tiab]) AND (nurs*[tiab] OR "
      u"\"Nursing Staff\"[mh])",
      u"(HbA1c[tiab] OR \"glycated hemoglobin\"[tiab] OR \"Glycated Hemoglobin A\"[mh]) NOT "
      u"(editorial[pt] OR letter[pt] OR comment[pt])",
      // record numbers
      u"12345678[pmid] OR 23456789[pmid] OR 34567890[pmid]",
      u"(\"self-care\"[tiab] OR self-management[tiab] OR \"self management\"[tiab]) AND \"Heart "
      u"Failure\"[mh]",
      // a Greek letter, and non-ASCII letters in phrases
      u"(\u03B2-blocker*[tiab] OR \"Adrenergic beta-Antagonists\"[mh]) AND \"Heart Failure\"[majr]",
      u"(\"Sj\u00F6gren's syndrome\"[tiab] OR \"Sjogren's Syndrome\"[mh]) AND xerostomia[tiab]",
      u"\"long-term care\"[tiab] OR \"Long-Term Care\"[mh] OR \"nursing home*\"[tiab] OR \"care "
      u"home*\"[tiab]",
      u"(physiotherap*[tiab] OR \"physical therap*\"[tiab]) AND (knee[tiab] AND "
      u"(arthroplast*[tiab] OR replacement*[tiab]))",
      u"(\"Vitamin D\"[mh] OR \"vitamin D\"[tiab] OR cholecalciferol[tiab] OR "
      u"ergocalciferol[tiab]) AND (fracture*[tiab] OR falls[tiab])",
      // a date range glued to its tags
      u"asthma[mh] AND (\"2000/01/01\"[dp]:\"2024/12/31\"[dp])",
      u"(smok*[tiab] OR tobacco[tiab] OR cigarette*[tiab]) AND (cessation[tiab] OR quit*[tiab]) "
      u"AND (\"text messag*\"[tiab] OR SMS[tiab])",
      u"Stroke[mh] OR stroke*[tiab] OR \"cerebrovascular accident*\"[tiab] OR CVA[tiab] OR \"brain "
      u"infarction\"[tiab]",
      u"(\"Depression, Postpartum\"[mh] OR \"postpartum depression\"[tiab] OR \"postnatal "
      u"depression\"[tiab] OR PPD[tiab]) AND (midwi*[tiab] OR \"health visitor*\"[tiab])",
      u"(HIV[mh] OR HIV[tiab] OR \"human immunodeficiency virus\"[tiab]) AND (PrEP[tiab] OR "
      u"\"pre-exposure prophylaxis\"[tiab])",
      u"(covid-19 OR \"long covid\" OR post-COVID) AND (fatigue OR dyspnoea OR dyspnea)",
      u"(\"near miss*\"[tiab] OR \"adverse event*\"[tiab]) AND \"Patient Safety\"[mh]",
      // words that begin with or, and or not
      u"(orthopaedic*[tiab] OR orthopedic*[tiab]) AND (Nottingham[ad] OR Oregon[ad]) AND "
      u"(notch*[tiab] OR android*[tiab])",
      // an en dash inside a phrase
      u"\"Guillain\u2013Barr\u00E9 syndrome\"[tiab] OR \"Guillain-Barre Syndrome\"[mh]",
      // apostrophes inside double-quoted phrases
      u"(\"next-generation sequencing\"[tiab] OR NGS[tiab]) AND (\"patients' views\"[tiab] OR "
      u"\"Down's syndrome\"[tiab])",
      u"(2019-nCoV OR SARS-CoV-2 OR \"severe acute respiratory syndrome coronavirus 2\") AND "
      u"(vaccin* OR immuni*)",
      u"\"type 2 diabetes\" AND \"physical activity\" AND \"older adults\"",
      // a NOT clause after a one-term group
      u"(obesity[mh] OR overweight[tiab]) AND (child*[tiab]) NOT (review[pt] OR \"systematic "
      u"review\"[pt])",
      u"(pre-term OR preterm OR premature) AND (infant* OR neonat*) AND (BRCA1 OR BRCA2 OR "
      u"\"vitamin K\")",
      // a long OR-block
      u"(\"Asthma\"[mh] OR asthma[tiab] OR wheez*[tiab] OR bronchospas*[tiab] OR "
      u"bronchoconstrict*[tiab] OR \"bronchial hyperreactivity\"[tiab] OR \"airway "
      u"hyperresponsiveness\"[tiab] OR \"reactive airway disease\"[tiab] OR \"exercise-induced "
      u"bronchospasm\"[tiab] OR \"status asthmaticus\"[tiab] OR bronchiolitis[tiab] OR \"recurrent "
      u"wheeze\"[tiab] OR \"preschool wheeze\"[tiab] OR inhaler*[tiab] OR salbutamol[tiab] OR "
      u"albuterol[tiab] OR budesonide[tiab] OR fluticasone[tiab] OR montelukast[tiab]) AND "
      u"(child*[tiab] OR adolescen*[tiab] OR \"Child\"[mh])",
  };
  for (const Text& input : clean) {
    for (const Diagnostic& d : Check(input)) {
      EXPECT_EQ(d.severity, Severity::kInfo) << d.code << " [" << d.start << ", " << d.end
                                             << ") in " << ToUtf8(input) << ": " << d.message;
    }
  }
}

// Title/abstract phrases OR-ed in one group, with `inserted` typed in after
// the first `at` of them.
Text PhraseBlock(const std::vector<std::u16string_view>& terms, size_t at,
                 std::u16string_view inserted) {
  Text block = u"(";
  for (size_t i = 0; i < terms.size(); ++i) {
    if (i == at) {
      block += inserted;
      block += u" OR ";
    }
    block += u"\"";
    block += terms[i];
    block += u"\"[tiab]";
    if (i + 1 < terms.size()) block += u" OR ";
  }
  return block + u")";
}

const std::vector<std::u16string_view> kExercise = {
    u"tai ji quan",
    u"taiji",
    u"qigong",
    u"qi gong",
    u"baduanjin",
    u"yoga",
    u"hatha yoga",
    u"pilates",
    u"mind-body exercise",
    u"mind body therapy",
    u"balance training",
    u"balance exercise",
    u"strength training",
    u"resistance training",
    u"progressive resistance",
    u"aerobic exercise",
    u"walking program",
    u"walking programme",
    u"dance therapy",
    u"dancing",
    u"aquatic exercise",
    u"water-based exercise",
    u"hydrotherapy",
    u"exergaming",
    u"exergame",
    u"virtual reality training",
    u"whole body vibration",
    u"stretching",
    u"flexibility training",
    u"functional training",
    u"multicomponent exercise",
    u"Otago exercise",
    u"home-based exercise",
    u"group exercise",
    u"supervised exercise",
    u"physical activity",
    u"physical training",
    u"exercise therapy",
    u"exercise intervention",
    u"exercise program",
};
const std::vector<std::u16string_view> kFalls = {
    u"fall",
    u"falls",
    u"faller",
    u"fallers",
    u"falling",
    u"fall risk",
    u"fall prevention",
    u"fall rate",
    u"fall incidence",
    u"fear of falling",
    u"fall-related injury",
    u"hip fracture",
    u"fragility fracture",
    u"postural balance",
    u"postural control",
    u"postural sway",
    u"gait speed",
    u"gait stability",
    u"timed up and go",
    u"berg balance scale",
    u"functional reach",
    u"single leg stance",
    u"one-leg stance",
    u"sit-to-stand",
    u"chair stand",
    u"short physical performance battery",
    u"mobility",
    u"physical function",
    u"frailty",
    u"sarcopenia",
    u"activities of daily living",
    u"balance confidence",
    u"near fall",
    u"near falls",
    u"slips",
    u"trips",
    u"injurious fall",
    u"recurrent falls",
    u"fall efficacy",
    u"fall-related fracture",
};

// A phrase whose closing quote was lost in a long strategy: the quotes after
// it pair up wrongly to the end of its group, but the finding is on the
// quote that lost its partner. The strategy is ASCII, so its units are its
// code points.
TEST(DatabaseSyntaxTest, LostQuoteInLongStrategy) {
  const Text strategy = PhraseBlock(kExercise, 20, u"\"Tai Ji[mh] OR \"Tai Chi\"[tiab]") +
                        u" AND " + PhraseBlock(kFalls, 20, u"\"Accidental Falls\"[mh]") +
                        u" NOT (animals[mh] NOT humans[mh])";
  ASSERT_GE(strategy.size(), 2000u);
  const size_t quote = strategy.find(u"\"Tai Ji");
  const std::vector<Diagnostic> found = Check(strategy);
  EXPECT_EQ(SpansOf(found, "unclosed-quote"), (std::vector<Span>{{quote, quote + 1}}));
  for (const Diagnostic& d : found) {
    if (d.code == "unclosed-quote") {
      EXPECT_NE(d.message.find("\"Tai\""), std::string::npos) << d.message;
    }
  }
}

// Two lost closing quotes far apart: the count of quotes is even again, but
// each lost one is still found.
TEST(DatabaseSyntaxTest, TwoLostQuotesInLongStrategy) {
  const Text strategy =
      PhraseBlock(kExercise, 20, u"\"Tai Ji[mh] OR \"Tai Chi\"[tiab]") + u" AND " +
      PhraseBlock(kFalls, 20, u"\"Accidental Falls[mh] OR \"accidental fall\"[tiab]") +
      u" NOT (animals[mh] NOT humans[mh])";
  ASSERT_GE(strategy.size(), 2000u);
  const size_t first = strategy.find(u"\"Tai Ji");
  const size_t second = strategy.find(u"\"Accidental Falls");
  EXPECT_EQ(SpansOf(Check(strategy), "unclosed-quote"),
            (std::vector<Span>{{first, first + 1}, {second, second + 1}}));
}

// The rewrite a finding suggests, converted, gives the sign form of what
// the searcher meant: alternatives stay alternatives, words next to each
// other stay together, exclusions stay exclusions.
TEST(DatabaseSyntaxTest, AdviceConvertsToTheMeaning) {
  const struct {
    Text input;
    std::string_view code;
    Text advice;  // quoted in the message
    Text sign_form;
  } cases[] = {
      {u"(nursing home* or care home* or long term care)", "mixed-and-or",
       u"(nursing home*) or (care home*) or (long term care)",
       u"((+nursing +home*) (+care +home*) (+long +term +care))"},
      {u"telehealth OR telemedicine AND heart failure", "mixed-and-or",
       u"(telehealth OR telemedicine) AND (heart failure)",
       u"(+(telehealth telemedicine) +(+heart +failure))"},
      {u"telehealth OR telemedicine AND heart failure", "mixed-and-or",
       u"telehealth OR (telemedicine AND (heart failure))",
       u"(telehealth (+telemedicine +(+heart +failure)))"},
      {u"heart adj3 failure", "proximity-operator", u"\"heart failure\"", u" \"heart failure\" "},
      {u"heart adj3 failure", "proximity-operator", u"heart AND failure", u"(+heart +failure)"},
      {u"asthma -pediatric", "sign-prefix", u"NOT pediatric", u"(+asthma -pediatric)"},
      {u"('heart attack' OR 'myocardial infarction')", "single-quote", u"\"heart attack\"",
       u" \"heart attack\" "},
      {u"trial [pt] OR placebo", "spaced-field-tag", u"trial[pt]", u"(trial[pt] placebo)"},
  };
  BoolFuncs engine;
  for (const auto& c : cases) {
    const std::vector<Diagnostic> found = Check(c.input);
    const auto with_code = std::find_if(found.begin(), found.end(),
                                        [&](const Diagnostic& d) { return d.code == c.code; });
    ASSERT_NE(with_code, found.end()) << c.code << " in " << ToUtf8(c.input);
    EXPECT_NE(with_code->message.find("\"" + ToUtf8(c.advice) + "\""), std::string::npos)
        << with_code->message;
    // The advice in its place: the sign form of the whole rewritten input.
    Text rewritten = c.advice;
    if (c.code == "sign-prefix") rewritten = u"asthma " + c.advice;
    if (c.code == "spaced-field-tag") rewritten = c.advice + u" OR placebo";
    Text operator_form;
    Text sign_form;
    engine.ConvertBoolean(rewritten, operator_form, sign_form);
    EXPECT_EQ(ToUtf8(sign_form), ToUtf8(c.sign_form)) << ToUtf8(rewritten);
  }
}

// Exports a searcher tried: every warning, at its place. Two quotes missing
// in different groups are two mistakes, each at its quote; acronyms that
// look like codes or proximity operators stay terms.
TEST(DatabaseSyntaxTest, TriedExports) {
  using Found = std::tuple<std::string, size_t, size_t>;
  const struct {
    Text input;
    std::vector<Found> expected;
  } cases[] = {
      {u"(\"heart failure\" OR \"cardiac failure) AND (exercise OR \"physical activity) AND "
       u"(trial OR random*)",
       {{"unclosed-quote", 20, 21}, {"unclosed-quote", 55, 56}}},
      {u"(N95 OR respirator*) AND HIV(PrEP OR \"pre-exposure prophylaxis\") AND ALL (child* OR "
       u"pediatric*)",
       {}},
      {u"(PT OR physiotherap*) AND (LA OR \"left atrial\")", {}},
      {u"TS=asthma AND PY=2020", {{"field-code", 0, 3}, {"field-code", 14, 17}}},
      {u"MH asthma+ OR TI asthma", {{"field-code", 0, 2}, {"field-code", 14, 16}}},
      {u"exp Asthma/ OR asthma*.tw. OR 'asthma'/exp OR asthma:ti,ab",
       {{"field-code", 10, 11},
        {"field-code", 22, 26},
        {"field-code", 38, 42},
        {"field-code", 52, 58}}},
      {u"asthma AND 2010 -2020", {{"range", 16, 17}}},
      {u"asthma -(adult OR elderly)", {{"sign-prefix", 7, 8}}},
      {u"(\"heart attack\" OR \"myocardial infarction\")AND\"aspirin\"",
       {{"glued-operator", 43, 46}}},
  };
  for (const auto& c : cases) {
    std::vector<Found> found;
    for (const Diagnostic& d : Check(c.input)) {
      if (d.severity != Severity::kInfo) found.emplace_back(d.code, d.start, d.end);
    }
    EXPECT_EQ(found, c.expected) << ToUtf8(c.input);
  }
  // Beside words next to it, a proximity operator's advice does not make a
  // phrase of the two words around it.
  const std::vector<Diagnostic> found = Check(u"heart failure adj3 exercise");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].message.find("\"failure exercise\""), std::string::npos) << found[0].message;
}

}  // namespace
}  // namespace boolconv
