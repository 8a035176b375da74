-- The play room. Gems and rocks fall through the stars: fly into gems (or click them) to score,
-- dodge rocks (or click them to zap them). S saves and L loads the globals project.qf declares
-- (save slot 1), H switches hard mode, ESC goes back to the title through a resource list.
-- Two bass lines take turns as its music (LOOP_ALL); its effects ring in environment 1, which
-- glides into a space station hall as the room starts.

local HUD_BOTTOM = 448  -- the HUD bar covers y 448..480

local HUD_TEXT = 473    -- the top of the HUD's line of text

-- What S and L answer, shown for a second and a half.
local messages = {
    saved = {text = "GAME SAVED", colour = GOOD},
    loaded = {text = "GAME LOADED", colour = GOOD},
    nosave = {text = "NO SAVED GAME YET", colour = BAD},
}

local function spawn(class, prefix)
    nextId = nextId + 1
    local object = class:new()
    instTable[prefix .. nextId] = object
    return object
end

-- An effect from where it happened: placed left or right of the listener by the object's x. The
-- log line says what happened and how ("click" or "ship").
local function playEffect(sound, x, what)
    soundPan(sound, (x - 320) / 320)
    playSound(sound, false, 5)
    print(string.format("demo: %s at x %d", what, x))
end

local function sparkAt(x, y, red, green, blue)
    local spark = spawn(Spark, "spark")
    spark.x, spark.y = x, y
    spark.red, spark.green, spark.blue = red, green, blue
end

local function showMessage(name)
    message = messages[name]
    messageSteps = 90
end

local function distance(a, b)
    return math.sqrt((a.x - b.x) ^ 2 + (a.y - b.y) ^ 2)
end

local function recordBest()
    table.insert(bestScores, score)
    table.sort(bestScores, function(a, b) return a > b end)
    while #bestScores > 3 do
        table.remove(bestScores)
    end
end

local function newGame()
    for _, object in pairs(instTable) do
        if object.kind then
            object.dead = true
        end
    end
    score, lives, gameOver = 0, 3, false
    ship.x, ship.y, ship.hurt = 320, 80, 0
end

local function saveSlot()
    shipX, shipY = ship.x, ship.y
    if saveGame("1") then
        showMessage("saved")
        print(string.format("demo: saved slot 1: score %d, lives %d, ship at %.1f %.1f, hard mode %s", score, lives,
            shipX, shipY, tostring(hardMode)))
    end
end

local function loadSlot()
    if not loadGame("1") then
        showMessage("nosave")
        print("demo: no saved game in slot 1")
        return
    end
    ship.x, ship.y, ship.hurt = shipX, shipY, 0
    gameOver = lives <= 0
    showMessage("loaded")
    print(string.format("demo: loaded slot 1: score %d, lives %d, ship at %.1f %.1f, hard mode %s", score, lives,
        shipX, shipY, tostring(hardMode)))
end

local function catch(object, how)
    object.dead = true
    if object.kind == "gem" then
        score = score + object.value
        if object.gold then sparkAt(object.x, object.y, 255, 210, 80) else sparkAt(object.x, object.y, 90, 255, 170) end
        playEffect(pickupSound, object.x, "picked up a gem (" .. how .. ")")
    elseif how == "click" then
        score = score + 5
        sparkAt(object.x, object.y, 150, 200, 255)
        playEffect(crashSound, object.x, "zapped a rock (click)")
    end
end

-- Something within reach of the pointer gets caught (a gem) or zapped (a rock).
local function clickAt(x, y)
    local pointer = {x = x, y = y}
    for _, object in pairs(instTable) do
        if object.kind and not object.dead and distance(object, pointer) < object.radius + 6 then
            catch(object, "click")
            return
        end
    end
    sparkAt(x, y, 120, 120, 160)
end

local function collide()
    for _, object in pairs(instTable) do
        if object.kind and not object.dead and distance(object, ship) < object.radius + 12 then
            if object.kind == "gem" then
                catch(object, "ship")
            elseif ship.hurt == 0 then
                object.dead = true
                lives = lives - 1
                ship.hurt = 60
                playEffect(crashSound, object.x, "crashed into a rock (ship)")
                sparkAt(ship.x, ship.y, 255, 90, 70)
                if lives <= 0 then
                    gameOver = true
                    recordBest()
                end
            end
        end
    end
end

local function spawnFalling()
    if math.random() < (hardMode and 0.05 or 0.035) then
        spawn(Gem, "gem")
    end
    if math.random() < (hardMode and 0.04 or 0.02) then
        spawn(Rock, "rock")
    end
end

-- Instances may only be removed between steps: adding or removing entries of instTable while
-- _STEP walks it is not allowed, clearing them from here is.
local function removeDead()
    for key, object in pairs(instTable) do
        if object.dead then
            instTable[key] = nil
        end
    end
end

function Init()
    setBackgroundColor(11 / 255, 16 / 255, 38 / 255)
    hud = Hud:new()
    starSpeed = 1.5
    for i = 1, 60 do
        instTable["star" .. i] = Star:new()
    end
    nextId = 0
    ship = Ship:new()
    instTable.ship = ship
    if hardMode == nil then
        hardMode = false
    end
    bestScores = bestScores or {0, 0, 0}
    newGame()
    leaving = false
    message, messageSteps = nil, 0
    helpSteps = 300
    pickupSound, crashSound = getSoundHandle("pickup.wav"), getSoundHandle("crash.wav")
    soundEnv(pickupSound, 1)
    soundEnv(crashSound, 1)
    presetAudioEnv(1, 90, PRESET_SPACESTATION_HALL)  -- 90 audio ticks: about a second and a half
    stopMusicSlot(0)
    assignMusicToSlot(0, getMusicHandle("play-a.ogg"))
    appendMusicToSlot(0, getMusicHandle("play-b.ogg"))
    soundSrcVolume(getMusicSource(0), 0.4)
    playMusicSlot(0, 0, LOOP_ALL)
    print("demo: entered the play room")
end

function Step()
    if leaving then
        if resourcesAreLoaded() then
            forceNewRoom("title")
        end
        return
    end
    if keyPressed(KEY_ESCAPE) then
        if not gameOver then recordBest() end
        beginResourceList()
        includeRoom("title", 1)
        endResourceList()
        leaving = true
        return
    end
    if keyPressed(KEY_S) then saveSlot() end
    if keyPressed(KEY_L) then loadSlot() end
    if keyPressed(KEY_H) then hardMode = not hardMode end
    messageSteps = math.max(0, messageSteps - 1)
    helpSteps = math.max(0, helpSteps - 1)
    if gameOver then
        if keyPressed(KEY_ENTER) then newGame() end
    else
        spawnFalling()
        if mousePressed(BUTTON_LEFT) then clickAt(mouseX(), mouseY()) end
        collide()
    end
    removeDead()
end

function Render()
    setRenderColor(24, 32, 72, 255)
    drawRectangle(0, HUD_BOTTOM, 640, 480, true)
    setRenderColor(255, 255, 255, 255)
    hud:counter("SCORE", score, 10, HUD_TEXT, GOLD)
    if hardMode then
        hud:text(hud.small, "HARD", 320, HUD_TEXT, BAD, "centre")
    end
    for i = 1, lives do
        drawImageExt(ship.image, 640 - i * 22, HUD_BOTTOM + 6, 0, 0.5)
    end
    hud:counter("BEST", bestScores[1] or 0, 640 - 3 * 22 - 14, HUD_TEXT, GOLD, "right")
    if messageSteps > 0 then
        hud:text(hud.small, message.text, 320, 392, message.colour, "centre")
    end
    if gameOver then
        hud:banner("GAME OVER", 320, 300, BAD)
        hud:text(hud.small, "press ENTER to fly again", 320, 200, WHITE, "centre")
    elseif helpSteps > 0 then
        hud:controls(52)
    end
end
