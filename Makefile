# Thin wrapper over CMake. `make demo` and `make test` install what they need
# (Debian packages) on first use.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 60

.PHONY: deps build demo test sanitize-test tsan-test coverage mutate fuzz-smoke eval eval-human train clean

deps:
	scripts/install-deps.sh

build: deps
	cmake -S . -B build -DKVD_WERROR=ON $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS)

demo: build
	./build/bin/kvd-mute-end samples/kvd_sample.wav

test: build
	cd build && ctest --output-on-failure -j$(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize-test: deps
	cmake -S . -B build-asan -DKVD_WERROR=ON -DKVD_SANITIZE=ON -DKVD_BUILD_BENCH=OFF \
	  -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

# The suite under ThreadSanitizer.
tsan-test: deps
	cmake -S . -B build-tsan -DKVD_WERROR=ON -DKVD_TSAN=ON -DKVD_BUILD_BENCH=OFF \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && ctest --output-on-failure -j$(JOBS)

# Accuracy on the development corpus (docs/evaluation.md): builds the corpus
# into eval/corpus/ when it is missing, then scores the shipped configuration
# in the three modes on both halves; the tables land in eval/corpus/*.md.
EVAL_CORPUS ?= eval/corpus
EVAL_PYTHON ?= /usr/bin/python3
eval: build
	scripts/install-deps.sh sox espeak-ng alsa-utils python3-numpy \
	  asterisk-core-sounds-en-wav asterisk-core-sounds-es-wav asterisk-core-sounds-fr-wav asterisk-core-sounds-it-wav
	test -f $(EVAL_CORPUS)/manifest.tsv || $(EVAL_PYTHON) eval/make_corpus.py $(EVAL_CORPUS) --jobs $(JOBS)
	set -e; for mode in online offline multi; do \
	  $(EVAL_PYTHON) eval/run.py $(EVAL_CORPUS)/manifest.tsv --mode $$mode \
	    --out $(EVAL_CORPUS)/$$mode.jsonl --jobs $(JOBS); \
	  for split in tune heldout; do \
	    $(EVAL_PYTHON) eval/score.py $(EVAL_CORPUS)/manifest.tsv $(EVAL_CORPUS)/$$mode.jsonl \
	      --split $$split > $(EVAL_CORPUS)/$$mode-$$split.md; \
	    echo "== $$mode, $$split half"; head -3 $(EVAL_CORPUS)/$$mode-$$split.md; \
	  done; \
	done

# The same on the real-voice corpus (recorded speakers only, docs/evaluation.md),
# held-out half, in the specified and the enhanced decision mode, plus the
# WebRTC peer (recordings at 11025 Hz resampled to 16000 Hz for it).
EVAL_HUMAN_CORPUS ?= eval/corpus/human
eval-human: build
	scripts/install-deps.sh sox alsa-utils python3-numpy asterisk-core-sounds-en-wav \
	  asterisk-core-sounds-es-wav asterisk-core-sounds-fr-wav asterisk-core-sounds-it-wav
	test -f $(EVAL_HUMAN_CORPUS)/manifest.tsv || $(EVAL_PYTHON) eval/make_corpus.py $(EVAL_HUMAN_CORPUS) \
	  --voices human --jobs $(JOBS)
	set -e; for run in online-specified offline-specified multi-specified \
	    online-enhanced offline-enhanced multi-enhanced peer-any; do \
	  mode=$${run%-*}; detector=$${run#*-}; \
	  $(EVAL_PYTHON) eval/run.py $(EVAL_HUMAN_CORPUS)/manifest.tsv --mode $$mode --split heldout \
	    $$( [ $$mode = peer ] || echo --detector $$detector ) \
	    --out $(EVAL_HUMAN_CORPUS)/$$run.jsonl --jobs $(JOBS); \
	  $(EVAL_PYTHON) eval/score.py $(EVAL_HUMAN_CORPUS)/manifest.tsv $(EVAL_HUMAN_CORPUS)/$$run.jsonl \
	    --split heldout > $(EVAL_HUMAN_CORPUS)/$$run-heldout.md; \
	  echo "== $$run, heldout half"; head -3 $(EVAL_HUMAN_CORPUS)/$$run-heldout.md; \
	done

# Retrains the enhanced mode's frame classifier from the tuning halves of
# both corpora (built when missing) into enhanced/speech_model_weights.cpp,
# then rebuilds. Deterministic: the same corpus gives the same weights.
train: build
	scripts/install-deps.sh sox espeak-ng alsa-utils python3-numpy python3-sklearn \
	  asterisk-core-sounds-en-wav asterisk-core-sounds-es-wav asterisk-core-sounds-fr-wav asterisk-core-sounds-it-wav
	test -f $(EVAL_CORPUS)/manifest.tsv || $(EVAL_PYTHON) eval/make_corpus.py $(EVAL_CORPUS) --jobs $(JOBS)
	test -f $(EVAL_HUMAN_CORPUS)/manifest.tsv || \
	  $(EVAL_PYTHON) eval/make_corpus.py $(EVAL_HUMAN_CORPUS) --voices human --jobs $(JOBS)
	$(EVAL_PYTHON) eval/train_model.py $(EVAL_HUMAN_CORPUS)/manifest.tsv $(EVAL_CORPUS)/manifest.tsv
	cmake --build build -j$(JOBS)

# Line and branch coverage of the library and the tools after the whole suite,
# in a build of its own (build-coverage: unoptimised, gcov counters updated
# atomically, as the engine runs lines in threads); the summary is printed and
# build-coverage/coverage.txt lists every file.
COVERAGE_FILTER = --filter '(api|classifiers|engine|enhanced|entry|include|logging|peer|pipeline|platform|tools)/'
coverage: deps
	scripts/install-deps.sh gcovr
	cmake -S . -B build-coverage -DKVD_WERROR=ON -DKVD_BUILD_BENCH=OFF -DKVD_PYTHON=OFF \
	  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=--coverage -fprofile-update=atomic" $(CMAKE_FLAGS)
	find build-coverage -name '*.gcda' -delete
	cmake --build build-coverage -j$(JOBS)
	cd build-coverage && ctest -j$(JOBS) --timeout 600 > ctest.log || (tail -30 ctest.log; false)
	gcovr -r . --object-directory build-coverage -j $(JOBS) $(COVERAGE_FILTER) \
	  --exclude-unreachable-branches --exclude-throw-branches \
	  --txt build-coverage/coverage.txt --print-summary

# Mutation score of the classifiers and the offline scans: a deterministic
# sample of mutants of the committed tree (scripts/mutate.py --help).
MUTANTS ?= 60
mutate:
	scripts/mutate.py --count $(MUTANTS) --jobs $(JOBS)

# The libFuzzer targets (clang, ASan + UBSan), each run for FUZZ_SECONDS on
# its seed corpus; fails on any crash, leak, time-out or sanitizer report.
fuzz-smoke: deps
	cmake -S . -B build-fuzz -DKVD_WERROR=ON -DKVD_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVD_BUILD_TESTS=OFF -DKVD_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j$(JOBS)
	scripts/fuzz-run.sh build-fuzz/bin build-fuzz/run $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-coverage build-mutation
