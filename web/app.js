// The boolconv page: converts the expression as the user types, with the same
// engine as boolconv-cli compiled to WebAssembly (engine.js, or engine-simd.js
// where the browser has WebAssembly's vectors; each defines
// BoolconvEngineScript). Ordinary expressions convert on the page's own
// thread, so the result shows in the frame that shows the keystroke; long ones
// convert in a worker, so that pasting a megabyte does not freeze the page.
'use strict';

(() => {
  // Inputs longer than this many UTF-16 units convert in the worker.
  const kWorkerThreshold = 64 * 1024;
  // The address keeps an expression whose encoded form is at most this long;
  // a longer one would make a link that few programs pass on whole, so the
  // address then keeps none rather than an older expression.
  const kMaxFragmentLength = 64 * 1024;
  // The address is rewritten this long after typing stops: browsers refuse
  // history updates that come too often.
  const kFragmentDelayMs = 250;
  // Screen readers hear the results this long after typing stops, not at
  // every keystroke.
  const kAnnounceDelayMs = 600;
  // An output longer than this is announced by its length only.
  const kMaxAnnouncedLength = 200;
  // A pasted document can draw thousands of diagnostics; the page lists and
  // highlights this many and counts the rest.
  const kMaxListedDiagnostics = 200;
  // Highlights mirror the whole input in the backdrop, which costs a second
  // layout of it: past this many UTF-16 units the list alone shows where
  // each diagnostic is, by selecting its span.
  const kMaxHighlightedLength = kWorkerThreshold;
  // How long a copy button says "Copied".
  const kCopiedNoteMs = 1500;
  // Stands in a highlight of an empty span: zero width, and no break
  // opportunity, so the highlighted text wraps as the input does.
  const kWordJoiner = '\u2060';
  // Text that takes no room on screen: line breaks and zero-width characters.
  const kInvisible = /^[\n\r\u200B-\u200D\u2060\uFEFF]+$/;
  // How much of a history line's search its entry in the line picker shows.
  const kMaxLineExcerpt = 60;
  // The structure panel draws groups this many levels deep, as the
  // command-line tool indents them, and at most this many parts in all: a
  // pasted nest can be 100,000 groups deep. Copy gives the whole tree.
  const kMaxStructureDepth = 16;
  const kMaxStructureParts = 200;
  // Code points of a term the structure shows, as the command-line tool
  // shows them; a longer one ends in "…".
  const kLongestShownTerm = 40;

  const $ = (id) => document.getElementById(id);
  const input = $('expression');
  const backdrop = $('backdrop');
  const tidySwitch = $('tidy');
  const historyBox = $('history-box');
  const historySwitch = $('history');
  const historyDetails = $('history-details');
  const lineSelect = $('history-line');
  const combinedOutput = $('combined');
  const combinedCopy = $('copy-combined');
  const operatorOutput = $('operator');
  const signOutput = $('sign');
  const errorBox = $('error');
  const warningsBox = $('warnings');
  const checks = $('checks');
  const diagnosticsList = $('diagnostics');
  const diagnosticsMore = $('diagnostics-more');
  const statusBox = $('status');
  const structurePanel = $('structure');
  const structureTree = $('structure-tree');
  const structureMore = $('structure-more');
  const structureCopy = $('copy-structure');
  // The Copy buttons of the two forms; the combined expression's and the
  // structure's have their own rules (see Copy and CopyStructure).
  const copyButtons = [...document.querySelectorAll('button.copy')].filter(
      (button) => button !== combinedCopy && button !== structureCopy);

  // What the outputs hold: 'current' (the input's conversion), 'busy' (the
  // worker converts a newer input), 'stale' (the input did not convert: the
  // outputs still hold an earlier one's). Copy works only on 'current'.
  let outputState = 'current';
  // Whether the user has the fold of the converter's warnings open: it is
  // redrawn open at each keystroke until a conversion has no warnings.
  let foldOpen = false;

  let engine = null;  // the engine on this thread, once it has started
  let latest = 0;     // number of the latest request; results of older ones are dropped
  let announceTimer = 0;
  let fragmentTimer = 0;
  let firstResultShown = false;
  // The history line the user picked to convert; 0 while they have picked
  // none, and the reading chooses the last line no other line uses.
  let chosenLine = 0;
  // Whether the history switch is on offer for the text shown.
  let historyOffered = false;
  // What the diagnostics list shows: the spans in UTF-16 units of the input.
  let listed = [];
  // The text the backdrop mirrors, or '' where it shows no highlights.
  let highlightedText = '';
  // The structure shown: {expression, explain, toUnits}, or null.
  let structure = null;
  // The spans, [from, to] in UTF-16 units of the input, of each part the
  // structure panel draws, by its number.
  let structureSpans = [];
  // The parts of the structure that the keyboard focus and the pointer are
  // on, by number, or -1: the pointer's is highlighted, else the focus's.
  let focusedPart = -1;
  let pointedPart = -1;

  // --- Converting -----------------------------------------------------------

  // Converts what the input holds now. `announceNow` when the user asked for
  // it (Convert, Ctrl+Enter, the switch) rather than typed.
  function Convert(announceNow) {
    const options = {
      tidy: tidySwitch.checked,
      check: true,
      explain: true,
      maxDiagnostics: kMaxListedDiagnostics,
    };
    if (historySwitch.checked) Object.assign(options, {history: true, line: chosenLine});
    const request = {id: ++latest, expression: input.value, options, announceNow};
    ScheduleFragment(request.expression, request.options);
    if (!engine) return;  // the engine converts the input as soon as it has started
    if (request.expression.length > kWorkerThreshold && worker.Send(request)) return;
    Show(request, engine.convert(request.expression, request.options), 'page');
  }

  // Shows `result` (an object as `boolconv-cli --json --check` writes it, but
  // for diagnosticCount) of `request`, unless a newer request has been made
  // since.
  function Show(request, result, convertedBy) {
    if (request.id !== latest) return;
    SetBusy(false);
    if ('error' in result) {
      // The outputs keep the last good result, marked as out of date beside
      // each one, and cannot be copied as if they were this input's.
      const kept = operatorOutput.value !== '' || signOutput.value !== '';
      ShowMessages(
          errorBox, [{error: result.error, kept}],
          ({error}) =>
              [Element('strong', '', 'Not converted: '),
               Element('span', 'message', error),
               kept ? ' The outputs below are out of date.' : '',
      ]);
      SetOutputState('stale');
    } else {
      ShowMessages(errorBox, [], () => []);
      SetOutput(operatorOutput, result.operator);
      SetOutput(signOutput, result.sign);
      SetOutputState('current');
    }
    operatorOutput.dataset.convertedBy = convertedBy;
    const newlyOffered = ShowHistory(request, result);
    ShowStructure(request.expression, result);
    ShowDiagnostics(request.expression, result);
    Announce(result, request.announceNow, newlyOffered);
    if (!firstResultShown) {
      firstResultShown = true;
      performance.mark('boolconv-first-result');
    }
  }

  // Fills a live region with `messages`, each drawn by `draw`, unless it
  // already shows them: a screen reader would repeat them at every keystroke.
  function ShowMessages(region, messages, draw) {
    const key = JSON.stringify(messages);
    if (region.dataset.shown === key) return;
    region.dataset.shown = key;
    region.replaceChildren(...messages.flatMap(draw));
  }

  function SetOutput(output, text) {
    // Rewriting an unchanged megabyte costs a layout for nothing.
    if (output.value !== text) output.value = text;
  }

  function SetBusy(busy) {
    for (const output of [operatorOutput, signOutput]) {
      output.setAttribute('aria-busy', String(busy));
    }
    structurePanel.setAttribute('aria-busy', String(busy));
    // Only a conversion's end sets the state back: its result decides.
    if (busy) {
      SetOutputState('busy');
      combinedCopy.disabled = true;
      structureCopy.disabled = true;
    }
  }

  // Marks both outputs as `state` (see outputState): a note under each
  // output's label says why Copy is off, and the output and its button are
  // described by it.
  function SetOutputState(state) {
    outputState = state;
    for (const button of copyButtons) {
      const output = $(button.dataset.copies);
      const note = $(`${output.id}-note`);
      const stale = state === 'stale' && output.value !== '';
      output.classList.toggle('stale', stale);
      note.hidden = state === 'current';
      note.textContent = state === 'busy' ? 'Converting the new text: Copy waits for it.' :
          stale ? 'Out of date: from the last expression that converted, not the one above. ' +
              'Copy is off until this one converts.' :
                  'Nothing to copy: the expression did not convert.';
      button.disabled = state !== 'current';
    }
  }

  // Speaks the results; `offered` when the history switch has just come on
  // offer, which the user would not otherwise learn of where they type.
  function Announce(result, now, offered) {
    clearTimeout(announceTimer);
    if ('error' in result) return;  // the error box announces itself at once
    const count = result.diagnosticCount;
    const line = result.history?.converted;
    const text = (line ? `History line ${line} combined. ` : '') +
        `Operator form: ${Spoken(result.operator)}. Sign form: ${Spoken(result.sign)}.` +
        (count ? ` ${count} ${count === 1 ? 'finding' : 'findings'} listed.` : '') +
        (offered ? ' The text looks like a search history: the switch Read as a search history ' +
                 'is on offer after Tidy pasted text.' :
                   '');
    if (now) {
      statusBox.textContent = text;
    } else {
      announceTimer = setTimeout(() => {
        statusBox.textContent = text;
      }, kAnnounceDelayMs);
    }
  }

  function Spoken(text) {
    if (text === '') return 'empty';
    return text.length <= kMaxAnnouncedLength ? text : `${text.length} characters`;
  }

  // --- The worker -----------------------------------------------------------

  // Converts long inputs off the page's thread. One request at a time: while
  // one converts, only the newest waiting request is kept, and a result that
  // a newer request has overtaken is dropped. Where no worker can start (a
  // host's content policy, say), Send() returns false and the page converts
  // on its own thread.
  const worker = {
    thread: null,
    usable: typeof Worker === 'function',
    converting: null,  // the request the worker is converting
    waiting: null,     // the newest request after it

    Send(request) {
      if (!this.thread && !this.Start()) return false;
      SetBusy(true);
      if (this.converting) {
        this.waiting = request;
      } else {
        this.Post(request);
      }
      this.Count();
      return true;
    },

    Start() {
      if (!this.usable) return false;
      try {
        // The engine's script and WorkerMain, from their own text: a page
        // opened from disk may start a worker only from a blob.
        const source = `${BoolconvEngineScript}\n(${WorkerMain})(BoolconvEngineScript());\n`;
        const url = URL.createObjectURL(new Blob([source], {type: 'text/javascript'}));
        this.thread = new Worker(url);
      } catch (error) {
        this.usable = false;
        return false;
      }
      this.thread.onmessage = ({data}) => this.Done(data);
      this.thread.onerror = (event) => {
        event.preventDefault();
        this.Fail();
      };
      return true;
    },

    Post(request) {
      this.converting = request;
      this.thread.postMessage(
          {id: request.id, expression: request.expression, options: request.options});
    },

    Done({id, result}) {
      if (!result) {
        this.Fail();
        return;
      }
      const request = this.converting;
      this.converting = null;
      if (this.waiting) {
        const next = this.waiting;
        this.waiting = null;
        if (next.id === latest) this.Post(next);
      }
      this.Count();
      if (request && request.id === id) Show(request, result, 'worker');
    },

    // The worker could not start its engine or died: the page converts on its
    // own thread from now on.
    Fail() {
      const pending = this.waiting || this.converting;
      this.thread.terminate();
      this.thread = null;
      this.usable = false;
      this.converting = this.waiting = null;
      this.Count();
      if (pending && pending.id === latest) {
        Show(pending, engine.convert(pending.expression, pending.options), 'page');
      }
    },

    // How many requests the worker holds, for tests that wait for it to finish.
    Count() {
      document.documentElement.dataset.workerRequests =
          String(Number(!!this.converting) + Number(!!this.waiting));
    },
  };

  // Runs inside the worker, from its text alone: it may use only its argument.
  function WorkerMain(createEngine) {
    const ready = createEngine();
    self.onmessage = async ({data}) => {
      let result = null;
      try {
        // The structure crosses to the page as JSON text: one string copies
        // far faster than the objects of a deep nest.
        const options = data.options.explain ? {...data.options, explain: 'json'} : data.options;
        result = (await ready).convert(data.expression, options);
      } catch (error) {
        // Answered with no result: the page then converts it itself.
      }
      self.postMessage({id: data.id, result});
    };
  }

  // --- Search histories -----------------------------------------------------

  // Offers the history switch where the text looks like a history, or while
  // the switch is on (so that it can be switched off), and with it on shows
  // the line picker and the combined expression of `result`. Returns
  // whether the switch has just come on offer.
  function ShowHistory(request, result) {
    const on = !!request.options.history;
    const offered = on || !!result.looksLikeHistory;
    const newly = offered && !historyOffered;
    historyOffered = offered;
    historyBox.hidden = !offered;
    historyDetails.hidden = !on;
    if (!on) return newly;
    // Where the engine failed before reading the history (out of memory),
    // there are no lines to show.
    const {lines = [], combined = '', converted = 0} = result.history || {};
    ShowLines(request.expression, lines, converted);
    SetOutput(combinedOutput, combined);
    combinedCopy.disabled = combined === '';
    return newly;
  }

  // Fills the line picker with the history's lines, each named by its number
  // and the start of its search, and selects `converted`. A line asked for
  // that the history does not have is shown as such rather than replaced by
  // another. Rebuilt only when the lines change: the picker may be open.
  function ShowLines(expression, lines, converted) {
    const toUnits = UnitsOfCodePoints(expression);
    const entries = lines.map(({number, start, end}) => {
      const search = expression.slice(toUnits(start), toUnits(end)).replace(/\s+/g, ' ');
      const excerpt = search.length > kMaxLineExcerpt ?
          `${search.slice(0, kMaxLineExcerpt - 1)}\u2026` :
          search;
      return [String(number), `Line ${number}: ${excerpt}`];
    });
    if (converted && !lines.some(({number}) => number === converted)) {
      entries.push([String(converted), `Line ${converted}: not in the history`]);
    }
    const key = JSON.stringify(entries);
    if (lineSelect.dataset.shown !== key) {
      lineSelect.dataset.shown = key;
      lineSelect.replaceChildren(...entries.map(([value, text]) => {
        const option = Element('option', '', text);
        option.value = value;
        return option;
      }));
    }
    lineSelect.value = String(converted);
    lineSelect.disabled = entries.length === 0;
  }

  // --- Diagnostics and their highlights -------------------------------------

  // Diagnostics give spans in code points; JavaScript strings count UTF-16
  // units, in which a character beyond U+FFFF counts twice. Returns the
  // function from one to the other for `text`.
  function UnitsOfCodePoints(text) {
    if (!/[\uD800-\uDFFF]/.test(text)) return (point) => Math.min(point, text.length);
    const units = new Uint32Array(text.length + 1);
    let point = 0;
    for (let unit = 0; unit < text.length; ++point) {
      units[point] = unit;
      const high = text.charCodeAt(unit);
      const paired = high >= 0xD800 && high <= 0xDBFF && unit + 1 < text.length &&
          (text.charCodeAt(unit + 1) & 0xFC00) === 0xDC00;
      unit += paired ? 2 : 1;
    }
    units[point] = text.length;
    return (p) => units[Math.min(p, point)];
  }

  // The line and column, both from 1, of each code-point offset in
  // `starts` into `text`, in one pass over the text however the offsets are
  // ordered. Lines end at "\n" alone, as the command-line tool counts them
  // (the text area holds "\r\n" and "\r" as "\n"; U+2028 and U+2029 are
  // drawn on the line they stand in). Columns count code points.
  function LinesAndColumns(text, starts) {
    const order = starts.map((_, i) => i).sort((a, b) => starts[a] - starts[b]);
    const positions = new Array(starts.length);
    let unit = 0;
    let point = 0;
    let line = 1;
    let column = 1;
    for (const i of order) {
      while (point < starts[i] && unit < text.length) {
        const code = text.charCodeAt(unit);
        const paired = code >= 0xD800 && code <= 0xDBFF && unit + 1 < text.length &&
            (text.charCodeAt(unit + 1) & 0xFC00) === 0xDC00;
        unit += paired ? 2 : 1;
        ++point;
        if (code === 0x0A) {
          ++line;
          column = 1;
        } else {
          ++column;
        }
      }
      positions[i] = {line, column};
    }
    return positions;
  }

  function ShowDiagnostics(expression, result) {
    const {diagnostics, diagnosticCount} = result;
    const toUnits = UnitsOfCodePoints(expression);
    const places = LinesAndColumns(expression, diagnostics.map((diagnostic) => diagnostic.start));
    listed = diagnostics.map((diagnostic, index) => ({
                               ...diagnostic,
                               ...places[index],
                               from: toUnits(diagnostic.start),
                               to: toUnits(diagnostic.end),
                             }));
    checks.hidden = listed.length === 0;
    // The engine's own warnings all come from a double quote that never
    // closes: they fold under the finding that names that quote, or, when
    // the list does not show one, in a fold of their own.
    const warned = FoldKey(result) !== '';
    // The fold on the page says whether the user has it open: its toggle
    // event comes later, after the conversion of a quick next keystroke may
    // have replaced it.
    const shownFold = document.querySelector('details.prompts');
    if (shownFold) foldOpen = shownFold.open;
    if (!warned) foldOpen = false;
    const owner =
        warned ? listed.findIndex((diagnostic) => diagnostic.code === 'unclosed-quote') : -1;
    diagnosticsList.replaceChildren(...listed.map((diagnostic, index) => {
      const button = Element('button', `diagnostic ${diagnostic.severity}`);
      button.type = 'button';
      button.dataset.index = String(index);
      button.append(
          Element('span', 'where', `Line ${diagnostic.line}, column ${diagnostic.column}`), ': ',
          Element('span', 'severity', diagnostic.severity), ': ',
          Element('span', 'message', diagnostic.message), ' ',
          Element('span', 'code', `[${diagnostic.code}]`));
      const item = Element('li', '');
      item.append(button);
      if (index === owner) item.append(WarningsFold(result));
      return item;
    }));
    ShowMessages(
        warningsBox, owner === -1 ? [FoldKey(result)].filter(Boolean) : [],
        () => [WarningsFold(result)]);
    const unlisted = diagnosticCount - listed.length;
    const highlighted = expression.length <= kMaxHighlightedLength;
    diagnosticsMore.textContent = [
      unlisted ? `${unlisted} more not listed; the first ${listed.length} are above.` : '',
      listed.length && !highlighted ?
          'A text this long is not highlighted: activate a finding to select its text.' :
          '',
    ].join(' ').trim();
    diagnosticsMore.hidden = !diagnosticsMore.textContent;
    highlightedText = highlighted ? expression : '';
    DrawHighlights();
  }

  // Fills the backdrop with the text of highlightedText and a <mark> over
  // each listed span and each span of the structure's highlighted part, or
  // empties it where there is nothing to mark. Spans may overlap: the text is
  // cut at every span's ends, and each piece under one or more spans is
  // marked with the numbers of all the diagnostics among them; a piece of the
  // structure's part is marked active.
  function DrawHighlights() {
    const expression = highlightedText;
    const part = pointedPart >= 0 ? pointedPart : focusedPart;
    const lit = expression === '' || part < 0 ? [] : structureSpans[part];
    if ((listed.length === 0 && lit.length === 0) || expression === '') {
      backdrop.replaceChildren();
      return;
    }
    const cuts = new Set([0, expression.length]);
    for (const diagnostic of listed) cuts.add(diagnostic.from).add(diagnostic.to);
    for (const [from, to] of lit) cuts.add(from).add(to);
    const positions = [...cuts].sort((a, b) => a - b);
    // The part's spans, sorted by their starts, are walked along with the
    // pieces: a part of a large group has thousands.
    const litSpans = lit.filter(([from, to]) => from < to);
    const litPoints = new Set(lit.filter(([from, to]) => from === to).map(([from]) => from));
    const pieces = [];
    let next = 0;  // the first span of litSpans that does not end before the piece
    for (let i = 0; i < positions.length; ++i) {
      const from = positions[i];
      const to = i + 1 < positions.length ? positions[i + 1] : from;
      const spans = [];
      const points = [];  // empty spans, which mark a place
      listed.forEach((diagnostic, index) => {
        if (diagnostic.from === diagnostic.to) {
          if (diagnostic.from === from) points.push(index);
        } else if (diagnostic.from <= from && to <= diagnostic.to && from < to) {
          spans.push(index);
        }
      });
      // Spans end at cuts: one that starts at or before the piece and does
      // not end at its start holds all of it.
      while (next < litSpans.length && litSpans[next][1] <= from) ++next;
      const pieceLit = from < to && next < litSpans.length && litSpans[next][0] <= from;
      const pointLit = litPoints.has(from);
      if (points.length || pointLit) {
        pieces.push(Mark(points, kWordJoiner, pointLit ? 'active' : ''));
      }
      const text = expression.slice(from, to);
      if (text) {
        pieces.push(spans.length || pieceLit ? Mark(spans, text, pieceLit ? 'active' : '') : text);
      }
    }
    // A final line break needs a character after it to take up its line, as
    // it does in the textarea.
    pieces.push(' ');
    backdrop.replaceChildren(...pieces);
    backdrop.scrollTop = input.scrollTop;
  }

  // Names the warnings of `result`, or '' when it has none.
  function FoldKey({warnings, warnings_dropped: dropped = 0}) {
    return warnings.length || dropped ? JSON.stringify([warnings, dropped]) : '';
  }

  // A fold of `result`'s warnings and, past the engine's budget, how many
  // more there were: closed unless the user has it open.
  function WarningsFold(result) {
    const dropped = result.warnings_dropped || 0;
    const total = result.warnings.length + dropped;
    const fold = Element('details', 'prompts');
    fold.append(Element('summary', '', `Warnings from the converter (${total})`));
    fold.append(...result.warnings.map((text) => Element('p', '', text)));
    if (dropped) {
      fold.append(Element('p', 'dropped', `${dropped} more warnings like these are not shown.`));
    }
    fold.open = foldOpen;
    // A toggle event comes after the change, when a newer result may have
    // replaced this fold already: only the fold on the page speaks.
    fold.addEventListener('toggle', () => {
      if (fold.isConnected) foldOpen = fold.open;
    });
    return fold;
  }

  function Mark(indices, text, extraClass) {
    const worst = ['error', 'warning', 'info'].find(
        (severity) => indices.some((index) => listed[index].severity === severity));
    // A line break or a zero-width character has no width to colour: such a
    // mark gets a flag drawn beside it instead.
    const unseen = kInvisible.test(text) ? 'unseen' : '';
    const mark = Element('mark', `${worst || 'info'} ${extraClass} ${unseen}`.trim(), text);
    mark.dataset.diagnostics = indices.join(' ');
    return mark;
  }

  // Shows which stretch of the input a focused diagnostic names, and scrolls
  // the input to it; the focus stays in the list.
  function ShowSpan(index) {
    for (const mark of backdrop.querySelectorAll('mark')) {
      mark.classList.toggle('active', mark.dataset.diagnostics.split(' ').includes(String(index)));
    }
    ScrollToActive();
  }

  function ScrollToActive() {
    const mark = backdrop.querySelector('mark.active');
    if (mark) {
      input.scrollTop = Math.max(0, mark.offsetTop - input.clientHeight / 3);
      backdrop.scrollTop = input.scrollTop;
    }
  }

  // Takes the user to a diagnostic's stretch: the input's selection.
  function SelectSpan(index) {
    const diagnostic = listed[index];
    input.focus();
    input.setSelectionRange(diagnostic.from, diagnostic.to);
    ShowSpan(index);
  }

  // --- The structure --------------------------------------------------------

  // The structure is drawn as the command-line tool draws it with --explain:
  // each group "all of", "any of" or "none of" its terms, by the role the sign
  // form gives them (+, bare, -), and a group that mixes AND and OR with how
  // databases read it. A part is {title, spans, children}: spans in code
  // points, children entries (see ChildOf). Parts are made as they are drawn,
  // so that a deep nest is walked, never held whole.

  const kRoleTitles = {required: 'all of', optional: 'any of', excluded: 'none of'};
  const kRoles = Object.keys(kRoleTitles);
  const kDiffer = 'databases read this group differently';

  // A term as the tool shows it: line breaks as ⏎, tabs as ⇥, other
  // invisible characters by their code, and at most kLongestShownTerm code
  // points, the last of them "…" when cut.
  function ShownTerm(text) {
    let shown = '';
    let count = 0;
    for (let at = 0; at < text.length;) {
      const point = text.codePointAt(at);
      at += point > 0xFFFF ? 2 : 1;
      if (point === 0x0D && text.charCodeAt(at) === 0x0A) continue;  // one ⏎ for both
      if (++count === kLongestShownTerm && at < text.length) {
        shown += '…';
        break;
      }
      if (point === 0x0A || point === 0x0D) {
        shown += '⏎';
      } else if (point === 0x09) {
        shown += '⇥';
      } else if (point < 0x20 || IsHiddenSeparator(point) || (point >= 0xD800 && point <= 0xDFFF)) {
        shown += `<U+${point.toString(16).toUpperCase().padStart(4, '0')}>`;
      } else {
        shown += String.fromCodePoint(point);
      }
    }
    return shown;
  }

  // Characters that separate words to the eye but not to the converter.
  function IsHiddenSeparator(point) {
    return (point >= 0x01 && point < 0x20) || (point >= 0x7F && point <= 0xA0) ||
        point === 0x1680 || point === 0x180E || (point >= 0x2000 && point <= 0x200B) ||
        point === 0x2028 || point === 0x2029 || point === 0x202F || point === 0x205F ||
        point === 0x2060 || point === 0x3000 || point === 0xFEFF;
  }

  function Term({expression, toUnits}, item) {
    return ShownTerm(expression.slice(toUnits(item.start), toUnits(item.end)));
  }

  // An entry for the terms of `items` under `title`: one line when none of
  // them is a group, else a part with an entry for each.
  function PartEntry(view, title, items) {
    const spans = items.map(({start, end}) => [start, end]);
    if (items.every((item) => item.kind !== 'group')) {
      return {title: `${title}: ${items.map((item) => Term(view, item)).join(', ')}`, spans};
    }
    return {title, spans, items};
  }

  function ItemEntry(view, item) {
    if (item.kind === 'group') return {group: item.group};
    return {title: Term(view, item), spans: [[item.start, item.end]]};
  }

  // The part that draws group number `index`.
  function GroupPart(view, index) {
    const group = view.explain.groups[index];
    const byRole = kRoles.map((role) => group.items.filter((item) => item.role === role));
    const [required, optional, excluded] = byRole;
    const roles = byRole.filter((items) => items.length).length;
    const part = {title: 'all of', spans: [[group.start, group.end]], children: []};
    if (roles === 1 && group.items.every((item) => item.kind !== 'group')) {
      const role = byRole.findIndex((items) => items.length);
      part.title = PartEntry(view, kRoleTitles[kRoles[role]], byRole[role]).title;
    } else if (roles === 1 && optional.length) {
      part.title = 'any of';
      part.children = optional.map((item) => ItemEntry(view, item));
    } else {
      part.children = required.map((item) => ItemEntry(view, item));
      // Beside required terms the bare ones are optional; with none
      // required, one of them is wanted.
      if (optional.length) {
        const title = required.length ? 'any of — optional in the sign form' : 'any of';
        part.children.push(PartEntry(view, title, optional));
      }
      if (excluded.length) part.children.push(PartEntry(view, 'none of', excluded));
    }
    const {readings} = group;
    if (readings) {
      part.differ = readings.differ;
      const entry = {spans: part.spans};
      if (!('left_to_right' in readings)) {
        entry.title = kDiffer;  // too long a group to write out its readings
      } else if (readings.differ) {
        entry.readings = [
          ['left to right (PubMed)', readings.left_to_right],
          ['AND before OR (most)', readings.and_first],
          ['OR before AND (Scopus)', readings.or_first],
        ];
        entry.title =
            `${kDiffer}: ${entry.readings.map((reading) => reading.join(' ')).join('; ')}`;
      } else {
        entry.title = `databases read this group alike: ${readings.left_to_right}`;
      }
      part.children.push(entry);
    }
    return part;
  }

  // The part an entry of a part's children draws.
  function ChildOf(view, entry) {
    if (entry.group !== undefined) return GroupPart(view, entry.group);
    return {
      ...entry,
      children: (entry.items || []).map((item) => ItemEntry(view, item)),
    };
  }

  // The parts the structure begins with, each drawn with all under it: the
  // group around the whole expression, where it converts, and the groups
  // that convert outside it, under a line that says why; then a line for
  // each unclosed quote that leaves groups unconverted.
  function TopParts(view) {
    const {explain} = view;
    const Line = (title) => ({title, spans: [], children: []});
    const parts = [];
    if (explain.converted) {
      parts.push(GroupPart(view, explain.root));
    } else if (!explain.outside.length) {
      parts.push(Line('nothing is converted'));
    } else {
      parts.push(Line('the expression as a whole is not converted; groups inside it are:'));
    }
    if (explain.converted && explain.outside.length) {
      parts.push(Line(
          'after the ")" that closes the expression early, these groups convert on their own:'));
    }
    parts.push(...explain.outside.map((group) => GroupPart(view, group)));
    parts.push(...UnconvertedLines(view));
    return parts;
  }

  // The lines that say which groups an unclosed quote leaves unconverted.
  function UnconvertedLines({explain}) {
    return explain.unconverted.map(({quote, groups, whole_expression: whole}) => {
      const what = whole && groups === 1 ? 'the expression' :
          groups === 1                   ? 'the group' :
                                           `${groups} groups`;
      return {
        title: `not converted: ${what} around the double quote at character ${quote + 1}, ` +
            'which never closes',
        spans: [[quote, quote + 1]],
        children: [],
      };
    });
  }

  // The structure as text, line for line as the command-line tool draws it:
  // box-drawing characters, and past kMaxStructureDepth levels the depth
  // written out at a fixed indentation. Walks the tree without recursion.
  function StructureText(view) {
    const lines = [];
    for (const top of TopParts(view)) {
      lines.push(top.title);
      const stack = [{part: top, next: 0}];
      let prefix = '';  // of the children of the deepest part
      const prefixLengths = [];
      while (stack.length) {
        const frame = stack[stack.length - 1];
        if (frame.next === frame.part.children.length) {
          stack.pop();
          if (prefixLengths.length) prefix = prefix.slice(0, prefixLengths.pop());
          continue;
        }
        const child = ChildOf(view, frame.part.children[frame.next++]);
        const last = frame.next === frame.part.children.length;
        const depth = stack.length;
        const marker = depth > kMaxStructureDepth ? `[depth ${depth}] ` : '';
        lines.push(`${prefix}${last ? '└─ ' : '├─ '}${marker}${child.title}`);
        if (!child.children.length) continue;
        prefixLengths.push(prefix.length);
        if (depth < kMaxStructureDepth) prefix += last ? '   ' : '│  ';
        stack.push({part: child, next: 0});
      }
    }
    return `${lines.join('\n')}\n`;
  }

  // Draws the structure of `result` as nested lists, a button for each part
  // that highlights its place in the input; hidden for a blank input and
  // where the expression did not convert.
  function ShowStructure(expression, result) {
    focusedPart = pointedPart = -1;
    structureSpans = [];
    let {explain} = result;
    if (typeof explain === 'string') explain = JSON.parse(explain);  // from the worker
    structure = explain ? {expression, explain, toUnits: UnitsOfCodePoints(expression)} : null;
    structurePanel.hidden = 'error' in result || expression.trim() === '';
    structureCopy.disabled = !structure;
    if (!structure) {
      structureTree.replaceChildren();
      structureMore.textContent = structurePanel.hidden ?
          '' :
          'The structure could not be worked out: the page ran out of memory.';
      structureMore.hidden = structurePanel.hidden;
      return;
    }
    let left = kMaxStructureParts;
    let deeper = false;
    let cut = false;
    // Each part's list item, with the lists under it as deep as drawn. A
    // line with no place in the input is text alone.
    const Item = (part, depth) => {
      const item = Element('li', '');
      if (!part.spans.length) {
        item.append(Element('span', 'title', part.title));
        return item;
      }
      const button = Element('button', 'part');
      button.type = 'button';
      button.dataset.part = String(structureSpans.length);
      structureSpans.push(
          part.spans.map(([start, end]) => [structure.toUnits(start), structure.toUnits(end)])
              .sort((a, b) => a[0] - b[0]));
      if (part.readings) {
        item.className = 'readings';
        button.append(Element('span', 'title', `${kDiffer}:`));
      } else {
        button.append(Element('span', 'title', part.title));
      }
      // A group that databases read differently says so in words, beside
      // its title.
      if (part.differ) button.append(' ', Element('span', 'differ', 'read differently'));
      item.append(button);
      if (part.readings) {
        const list = Element('ul', 'reading-list');
        for (const [convention, reading] of part.readings) {
          const line = Element('li', '');
          line.append(Element('span', 'convention', convention), ' ', Element('code', '', reading));
          list.append(line);
        }
        item.append(list);
      }
      if (!part.children.length) return item;
      if (depth === kMaxStructureDepth) {
        deeper = true;
        item.append(Element('p', 'deeper', 'Deeper levels are not drawn.'));
        return item;
      }
      const list = Element('ul', '');
      for (const entry of part.children) {
        if (left === 0) {
          cut = true;
          break;
        }
        --left;
        list.append(Item(ChildOf(structure, entry), depth + 1));
      }
      item.append(list);
      return item;
    };
    const items = [];
    for (const part of TopParts(structure)) {
      if (left === 0) {
        cut = true;
        break;
      }
      --left;
      items.push(Item(part, 0));
    }
    structureTree.replaceChildren(...items);
    structureMore.textContent = [
      deeper ? `Parts more than ${kMaxStructureDepth} levels deep are not drawn here.` : '',
      cut ? `Only the first ${kMaxStructureParts} parts are drawn here.` : '',
      deeper || cut ? 'Copy gives the whole structure as text.' : '',
    ].filter(Boolean).join(' ');
    structureMore.hidden = !structureMore.textContent;
  }

  // Highlights the part that the focus or the pointer is on.
  function LightPart(focused, pointed) {
    if (focused === focusedPart && pointed === pointedPart) return;
    focusedPart = focused;
    pointedPart = pointed;
    DrawHighlights();
    ScrollToActive();
  }

  function PartOf(target) {
    const button = target && target.closest ? target.closest('button.part') : null;
    return button && structureTree.contains(button) ? Number(button.dataset.part) : -1;
  }

  // Takes the user to a part's place in the input: the selection, from the
  // start of its first span to the end of its last.
  function SelectPart(index) {
    const spans = structureSpans[index];
    if (!spans || !spans.length) return;
    input.focus();
    // Sorted by their starts.
    input.setSelectionRange(spans[0][0], spans.reduce((end, [, to]) => Math.max(end, to), 0));
  }

  // --- The address ----------------------------------------------------------

  // The address holds "#q=<expression>&tidy=off&history=on&line=3": the
  // expression encoded as a URI component, which leaves no "&" or "=" in
  // it; the Tidy switch only when it is off, its default being on; the
  // history switch only when it is on, its default being off, and with it
  // the line the user picked, if any. Each part is left out when it says
  // nothing. Addresses of the older form "#<expression>", without
  // parameters, still open, with the switches as they start.
  function ScheduleFragment(expression, options) {
    clearTimeout(fragmentTimer);
    fragmentTimer = setTimeout(() => WriteFragment(expression, options), kFragmentDelayMs);
  }

  function WriteFragment(expression, {tidy, history: read, line}) {
    let encoded = '';
    try {
      encoded = encodeURIComponent(expression);
    } catch (error) {
      // A lone surrogate has no form in an address: keep none.
    }
    if (encoded.length > kMaxFragmentLength) encoded = '';
    const fragment = [
      encoded && `q=${encoded}`,
      tidy ? '' : 'tidy=off',
      read ? 'history=on' : '',
      read && line ? `line=${line}` : '',
    ].filter(Boolean).join('&');
    if (location.hash === (fragment ? `#${fragment}` : '')) return;
    history.replaceState(null, '', fragment ? `#${fragment}` : location.pathname + location.search);
  }

  // What the address holds: {expression, tidy, history, line}, each null
  // where it holds none; null for an address this page did not write.
  function ReadFragment() {
    const fragment = location.hash.slice(1);
    const none = {expression: null, tidy: null, history: null, line: null};
    if (fragment === '') return none;
    try {
      const parts = fragment.split('&');
      // A line number as histories write them: at most nine digits.
      const kPart = /^(q=|(tidy|history)=(on|off)$|line=[1-9][0-9]{0,8}$)/;
      if (parts.every((part) => kPart.test(part))) {
        const state = {...none};
        for (const part of parts) {
          const equals = part.indexOf('=');
          const [name, value] = [part.slice(0, equals), part.slice(equals + 1)];
          if (name === 'q') {
            state.expression = decodeURIComponent(value);
          } else if (name === 'line') {
            state.line = Number(value);
          } else {
            state[name] = value === 'on';
          }
        }
        return state;
      }
      return {...none, expression: decodeURIComponent(fragment)};
    } catch (error) {
      return null;  // not one this page wrote
    }
  }

  // --- Copying --------------------------------------------------------------

  async function Copy(button) {
    // A disabled button takes no clicks; this guards against other ways in.
    if (button === combinedCopy ? combinedOutput.value === '' : outputState !== 'current') return;
    clearTimeout(announceTimer);  // the user has moved on from the results
    const output = $(button.dataset.copies);
    const name = output.labels[0].textContent;
    try {
      await navigator.clipboard.writeText(output.value);
    } catch (error) {
      // Without the clipboard interface (an older browser, or a page that may
      // not use it) the selection is copied the old way.
      output.select();
      const copied = document.execCommand('copy');
      button.focus();
      if (!copied) {
        statusBox.textContent = `Could not copy the ${name.toLowerCase()}: select it and copy.`;
        return;
      }
    }
    Copied(button, name);
  }

  function Copied(button, name) {
    statusBox.textContent = `${name} copied.`;
    button.textContent = 'Copied';
    setTimeout(() => {
      button.textContent = 'Copy';
    }, kCopiedNoteMs);
  }

  // Copies the structure shown as the command-line tool draws it, or where
  // the clipboard interface is missing, the text of its lists.
  async function CopyStructure() {
    if (!structure || structureCopy.disabled) return;
    clearTimeout(announceTimer);
    try {
      await navigator.clipboard.writeText(StructureText(structure));
    } catch (error) {
      const selection = getSelection();
      selection.selectAllChildren(structureTree);
      const copied = document.execCommand('copy');
      selection.removeAllRanges();
      structureCopy.focus();
      if (!copied) {
        statusBox.textContent = 'Could not copy the structure: select it and copy.';
        return;
      }
    }
    Copied(structureCopy, 'Structure');
  }

  // --- Start ----------------------------------------------------------------

  function Element(tag, className, text) {
    const element = document.createElement(tag);
    if (className) element.className = className;
    if (text !== undefined) element.textContent = text;
    return element;
  }

  // Sets the input, the switches and the picked line to what the address
  // holds: where it holds no state of them, the Tidy switch on, the history
  // switch off and no line picked. True when any changed.
  function Restore() {
    const state = ReadFragment();
    if (state === null) return false;
    const tidy = state.tidy !== false;
    const read = state.history === true;
    const line = read ? state.line || 0 : 0;
    const changed = tidy !== tidySwitch.checked || read !== historySwitch.checked ||
        line !== chosenLine || (state.expression !== null && state.expression !== input.value);
    tidySwitch.checked = tidy;
    historySwitch.checked = read;
    chosenLine = line;
    if (state.expression !== null) input.value = state.expression;
    return changed;
  }

  function Start() {
    // The address decides the switch, whatever state the browser restores.
    Restore();

    // A text that replaces the whole input is a new history: its line is
    // the reading's choice again until the user picks one.
    input.addEventListener('beforeinput', () => {
      if (input.selectionStart === 0 && input.selectionEnd === input.value.length) chosenLine = 0;
    });
    input.addEventListener('input', () => Convert(false));
    input.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
        event.preventDefault();
        Convert(true);
      }
    });
    input.addEventListener('scroll', () => {
      backdrop.scrollTop = input.scrollTop;
    });
    $('convert').addEventListener('click', () => Convert(true));
    tidySwitch.addEventListener('change', () => Convert(true));
    historySwitch.addEventListener('change', () => Convert(true));
    lineSelect.addEventListener('change', () => {
      chosenLine = Number(lineSelect.value);
      Convert(true);
    });
    for (const button of [...copyButtons, combinedCopy]) {
      button.addEventListener('click', () => Copy(button));
    }
    diagnosticsList.addEventListener('focusin', (event) => {
      const button = event.target.closest('button');
      if (button) ShowSpan(Number(button.dataset.index));
    });
    diagnosticsList.addEventListener('click', (event) => {
      const button = event.target.closest('button');
      if (button) SelectSpan(Number(button.dataset.index));
    });
    // A part of the structure is highlighted in the input while the pointer
    // is on it, or else while it has the focus; activated, it is selected.
    structureTree.addEventListener('focusin', (event) => {
      LightPart(PartOf(event.target), pointedPart);
    });
    structureTree.addEventListener('focusout', () => LightPart(-1, pointedPart));
    structureTree.addEventListener('mouseover', (event) => {
      LightPart(focusedPart, PartOf(event.target));
    });
    structureTree.addEventListener('mouseleave', () => LightPart(focusedPart, -1));
    structureTree.addEventListener('click', (event) => {
      const part = PartOf(event.target);
      if (part >= 0) SelectPart(part);
    });
    structureCopy.addEventListener('click', CopyStructure);
    window.addEventListener('hashchange', () => {
      if (Restore()) Convert(true);
    });

    LoadEngine()
        .then(
            () => BoolconvEngineScript()(),
            (file) => {
              throw new Error(`${file} is missing`);
            })
        .then(
            (started) => {
              engine = started;
              Convert(false);
            },
            (error) => {
              errorBox.textContent = error.message.endsWith('is missing') ?
                  `The converter could not be loaded: ${error.message}.` :
                  `The converter could not start: ${error}`;
            });
  }

  // The smallest module that uses WebAssembly's 128-bit vectors (a function
  // that counts the bits of a splatted zero): a browser that validates it
  // runs engine-simd.js, whose scanner looks at 16 units at a time.
  const kSimdProbe = new Uint8Array([
    0, 97, 115, 109, 1,  0, 0, 0, 1,  5, 1,   96, 0,   1,  123, 3,
    2, 1,  0,   10,  10, 1, 8, 0, 65, 0, 253, 15, 253, 98, 11,
  ]);

  // Loads the engine's script for this browser; it defines
  // BoolconvEngineScript. Rejects with the file's name when it cannot be
  // loaded. The page's root element names the build in use (data-engine).
  function LoadEngine() {
    let simd = false;
    try {
      simd = WebAssembly.validate(kSimdProbe);
    } catch (error) {
      simd = false;
    }
    const file = simd ? 'engine-simd.js' : 'engine.js';
    document.documentElement.dataset.engine = simd ? 'simd128' : 'plain';
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = file;
      script.onload = () => typeof BoolconvEngineScript === 'function' ? resolve() : reject(file);
      script.onerror = () => reject(file);
      document.head.append(script);
    });
  }

  Start();
})();
