-- Opens a file in Neovim with its built-in LSP client on `keyhound server`,
-- waits for the diagnostics, and writes "CODE LINE COLUMN SOURCE" for each
-- one (0-based, as vim.diagnostic gives them) to the result file. Run by
-- test_neovim.py: nvim --headless --clean -c "luafile check_diagnostics.lua"
local server = os.getenv("KEYHOUND_NATIVE")
local sample = os.getenv("KEYHOUND_SAMPLE")
local result = os.getenv("KEYHOUND_RESULT")

vim.cmd("edit " .. vim.fn.fnameescape(sample))
local client_id = vim.lsp.start_client({
  name = "keyhound",
  cmd = { server, "server" },
  root_dir = vim.fn.fnamemodify(sample, ":h"),
})
vim.lsp.buf_attach_client(0, client_id)

local seen = vim.wait(15000, function()
  return #vim.diagnostic.get(0) > 0
end, 50)

local lines = {}
if not seen then
  table.insert(lines, "no diagnostics")
end
for _, diagnostic in ipairs(vim.diagnostic.get(0)) do
  local code = diagnostic.code
  if code == nil and diagnostic.user_data and diagnostic.user_data.lsp then
    code = diagnostic.user_data.lsp.code
  end
  table.insert(lines, string.format("%s %d %d %s", tostring(code), diagnostic.lnum,
                                    diagnostic.col, tostring(diagnostic.source)))
end
table.sort(lines)
vim.fn.writefile(lines, result)
vim.lsp.stop_client(client_id)
vim.wait(2000, function() return vim.lsp.get_client_by_id(client_id) == nil end, 50)
vim.cmd("qall!")
