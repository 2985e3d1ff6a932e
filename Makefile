# The project's commands. Each installs missing Debian packages, configures
# and builds what it needs.
.PHONY: demo test bench clean

demo:
	@bash scripts/demo.sh

test:
	@bash scripts/test.sh

bench:
	@bash scripts/bench.sh

clean:
	rm -rf build
